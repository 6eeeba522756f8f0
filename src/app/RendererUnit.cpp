#include "app/RendererUnit.h"

#include "app/HauptUnit.h"
#include "config/GameConfigStore.h"
#include "config/GameIniNames.h"
#include "config/NotFoundDefault.h"
#include "controls/EventRules.h"
#include "controls/Fonts.h"
#include "controls/MessageBoxes.h"
#include "pages/OtherRenderersPage.h"
#include "pages/SystemPage.h"
#include "platform/AppInfo.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWindow>

TRendererForm::TRendererForm(THauptForm& hauptForm)
    : WindowOverMain(hauptForm, QStringLiteral("RendererForm"), QStringLiteral("Renderer"),
                     Qt::WindowMinimizeButtonHint),
      events_(hauptForm.boxes(), this)
{
    Label1 = new QLabel(QStringLiteral("Welcher Renderer wird verwendet¿"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    QFont bold = boldFont(Label1->font());
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    Label1->setFont(bold);

    bDirect3D = new QPushButton(QStringLiteral("Direct3D"), this);
    bDirect3D->setObjectName(QStringLiteral("bDirect3D"));
    bOpenGL = new QPushButton(QStringLiteral("OpenGL"), this);
    bOpenGL->setObjectName(QStringLiteral("bOpenGL"));
    bGlide = new QPushButton(QStringLiteral("3dfx Glide"), this);
    bGlide->setObjectName(QStringLiteral("bGlide"));
    events_.onClick(bDirect3D, [this] { bDirect3DClick(); });
    events_.onClick(bOpenGL, [this] { bOpenGLClick(); });
    events_.onClick(bGlide, [this] { bGlideClick(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(bDirect3D);
    buttons->addWidget(bOpenGL);
    buttons->addWidget(bGlide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addLayout(buttons);

    setDefaultButton(bDirect3D);
    FormCreate();
}

void TRendererForm::FormCreate()
{
    // Shown without waiting, and painted at once.
    centreOnScreen();
    show();
    raise();
    activateWindow();
}

void TRendererForm::bDirect3DClick()
{
    hauptForm_.systemPage()->unlockD3D();
    hauptForm_.D3DActivate();
    offerRenderDevice(GameIni::direct3DDevice);
    close();
}

void TRendererForm::bOpenGLClick()
{
    hauptForm_.revealOtherRenderersPage();
    hauptForm_.otherRenderersPage()->unlockOpenGL();
    OpenGLActivate();
    offerRenderDevice(GameIni::openGLDevice);
    close();
}

void TRendererForm::bGlideClick()
{
    hauptForm_.revealOtherRenderersPage();
    hauptForm_.otherRenderersPage()->unlockGlide();
    GlideActivate();
    offerRenderDevice(GameIni::glideDevice);
    close();
}

void TRendererForm::OpenGLActivate()
{
    hauptForm_.otherRenderersPage()->activateOpenGL();
}

void TRendererForm::GlideActivate()
{
    hauptForm_.otherRenderersPage()->activateGlide();
}

void TRendererForm::offerRenderDevice(const QString& device)
{
    GameConfigStore& mainIni = hauptForm_.state().mainIni();
    const QString current = mainIni.ReadString(GameIni::engineSection, QStringLiteral("GameRenderDevice"),
                                               NotFoundDefault::entryNotFound);
    if (current == device)
        return;
    const QString question = QStringLiteral("In der Datei \"UnrealTournament.ini\" steht aber, dass \n%1\n"
                                            "verwendet wird! Soll der Eintrag geändert werden¿")
                                 .arg(current);
    if (hauptForm_.boxes().information(this, question, true) != MessageBoxes::Answer::Yes)
        return;
    mainIni.WriteString(GameIni::engineSection, QStringLiteral("GameRenderDevice"), device);
    mainIni.WriteString(GameIni::engineSection, QStringLiteral("RenderDevice"), device);
}
