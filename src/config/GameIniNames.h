#pragma once

#include <QString>

// The names of the game's sections that the window reads and writes, and the
// words of its switches, each in one place: a section name misspelt in one
// page would read nothing and write a section of its own, unnoticed.
namespace GameIni {

// How the game writes a switch that is on and one that is off.
inline const QString trueText = QStringLiteral("True");
inline const QString falseText = QStringLiteral("False");

// UnrealTournament.ini
inline const QString engineSection = QStringLiteral("Engine.Engine");         // the render device in use
inline const QString gameEngineSection = QStringLiteral("Engine.GameEngine"); // the cache size
inline const QString urlSection = QStringLiteral("URL");                      // the intro's map
inline const QString ircSection = QStringLiteral("UBrowser.UBrowserIRCSystemPage");
inline const QString gameInfoSection = QStringLiteral("Engine.GameInfo");
inline const QString replicationSection = QStringLiteral("Engine.GameReplicationInfo");
inline const QString serverSetupSection = QStringLiteral("UTMenu.UTServerSetupPage");
inline const QString uplinkSection = QStringLiteral("IpServer.UdpServerUplink");
inline const QString firstRunSection = QStringLiteral("FirstRun");
// The render devices: each is the name the engine's keys give the device and
// the section of its options.
inline const QString direct3DDevice = QStringLiteral("D3DDrv.D3DRenderDevice");
inline const QString openGLDevice = QStringLiteral("OpenGLDrv.OpenGLRenderDevice");
inline const QString glideDevice = QStringLiteral("GlideDrv.GlideRenderDevice");

// User.ini
inline const QString inputSection = QStringLiteral("Engine.Input"); // key bindings and aliases
inline const QString playerPawnSection = QStringLiteral("Engine.PlayerPawn");
inline const QString defaultPlayerSection = QStringLiteral("DefaultPlayer");
inline const QString ladderSection = QStringLiteral("Botpack.Ladder");

} // namespace GameIni
