#include "app/InfoUnit.h"

#include "app/Startup.h"

#include "app/HauptUnit.h"
#include "controls/ElidedLabel.h"
#include "platform/AppInfo.h"
#include "platform/JpegDecoder.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QWindow>

namespace {

// The frame around the logo and the panel around name and version.
constexpr QSize bevelSize(225, 85);
constexpr QSize panelSize(177, 49);
constexpr QSize okSize(80, 25);

const QStringList credits{
    QStringLiteral("Ein Konfigurationswerkzeug für Unreal Tournament"),
    QStringLiteral("Linux-Ausgabe"),
};

} // namespace

QByteArray logoJpeg()
{
    registerResources();
    QFile file(QStringLiteral(":/logo.jpg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TInfoForm::TInfoForm(THauptForm& hauptForm, const QByteArray& logo)
    : WindowOverMain(hauptForm, QStringLiteral("InfoForm"), QStringLiteral("Brennwerk-Editor Info"), {})
{
    setWindowIcon(QIcon(QStringLiteral(":/brennwerk-editor.png")));

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Image1 = new QLabel(Bevel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAlignment(Qt::AlignCenter);
    const QImage picture = decodeJpeg(logo);
    if (!picture.isNull())
        Image1->setPixmap(QPixmap::fromImage(picture));
    auto* bevelLayout = new QVBoxLayout(Bevel1);
    bevelLayout->setContentsMargins(0, 0, 0, 0);
    bevelLayout->addWidget(Image1);
    Bevel1->setMinimumSize(bevelSize);

    QList<QLabel*> creditLabels;
    for (const QString& line : credits) {
        auto* label = new QLabel(line, this);
        label->setObjectName(QStringLiteral("Label%1").arg(creditLabels.size() + 1));
        label->setAlignment(Qt::AlignHCenter);
        creditLabels << label;
    }

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setMinimumSize(panelSize);
    LVersionInfo = new QLabel(Panel1);
    LVersionInfo->setObjectName(QStringLiteral("LVersionInfo"));
    LVersionInfo->setAlignment(Qt::AlignCenter);
    QFont versionFont = LVersionInfo->font();
    versionFont.setPointSize(10);
    LVersionInfo->setFont(versionFont);
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->addWidget(LVersionInfo);

    // Which files the editor edits: for a Linux build of the game they are
    // not in the game folder.
    LMainIni = new ElidedLabel(this);
    LMainIni->setObjectName(QStringLiteral("LMainIni"));
    LUserIni = new ElidedLabel(this);
    LUserIni->setObjectName(QStringLiteral("LUserIni"));
    for (QLabel* label : {LMainIni, LUserIni})
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);

    bInfoOK = new QPushButton(QStringLiteral("OK"), this);
    bInfoOK->setObjectName(QStringLiteral("bInfoOK"));
    bInfoOK->setMinimumSize(okSize);
    setDefaultButton(bInfoOK);
    // The box stands outside the main window's event rules: closing it
    // cannot fail.
    connect(bInfoOK, &QPushButton::clicked, this, [this] { bInfoOKClick(); });

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(Bevel1, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    for (QLabel* label : creditLabels)
        layout->addWidget(label, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    layout->addWidget(Panel1, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    layout->addWidget(LMainIni, 0, Qt::AlignHCenter);
    layout->addWidget(LUserIni, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    layout->addWidget(bInfoOK, 0, Qt::AlignHCenter);

    FormCreate();
}

void TInfoForm::FormCreate()
{
    LVersionInfo->setText(AppInfo::name + QLatin1Char('\n') + QLatin1Char('v') + AppInfo::version);
    // The box is no wider than the main window: a long path is elided in its
    // middle rather than cut by the screen's edge.
    const QMargins margins = layout()->contentsMargins();
    for (QLabel* label : {LMainIni, LUserIni})
        label->setMaximumWidth(hauptForm_.width() - margins.left() - margins.right());
    showIniPaths();
    centreOnScreen();
}

void TInfoForm::showIniPaths()
{
    const EditorState& state = hauptForm_.state();
    const auto line = [](QLabel* label, const QString& what, const QString& path) {
        static_cast<ElidedLabel*>(label)->setParts(
            what + QStringLiteral(": "), path,
            QFileInfo::exists(path) ? QString() : QStringLiteral(" (noch nicht vorhanden)"));
    };
    line(LMainIni, QStringLiteral("Haupt-INI"), state.MainIniPath);
    line(LUserIni, QStringLiteral("User-INI"), state.UserIniPath);
}

void TInfoForm::showEvent(QShowEvent* event)
{
    // A file may have been made since the box was last shown.
    if (!event->spontaneous())
        showIniPaths();
    WindowOverMain::showEvent(event);
}

void TInfoForm::bInfoOKClick()
{
    close();
}
