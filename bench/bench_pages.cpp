// What a page costs the user: showing it (its show handler reads its keys,
// then Qt paints it) and its largest write, for each of the eight pages, on
// the sample installation and on one whose User.ini has grown to 1 MB; beside
// them a plain read of each file. The whole editor runs, offscreen, on a
// temporary copy of examples/.
//
// scripts/bench.sh runs this with the start-up comparison (bench_startup).

#include "controls/EventRules.h"
#include "app/HauptUnit.h"
#include "controls/MaskedEdit.h"
#include "controls/MessageBoxes.h"
#include "app/RendererUnit.h"
#include "app/Startup.h"
#include "platform/SafeFile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <utility>
#include <memory>

namespace {

// Answers nothing and counts what it was asked: a bench that met an error
// box measured the wrong thing.
class SilentBoxes final : public MessageBoxes {
public:
    void notice(QWidget*, const QString&) override { ++notices; }
    Answer information(QWidget*, const QString&, bool yesNo) override
    {
        ++notices;
        return yesNo ? Answer::No : Answer::Ok;
    }
    void error(QWidget*, const QString& text) override
    {
        ++errors;
        std::fprintf(stderr, "error box: %s\n", qPrintable(text));
    }
    std::optional<QString> openGameExecutable(QWidget*) override { return std::nullopt; }
    int notices = 0;
    int errors = 0;
};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        std::abort();
    return file.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
}

// The sample's User.ini grown to 1 MB: a section of key lines in front, so
// that every key the pages read is found only after it.
QByteArray megabyteUserIni(const QByteArray& sample)
{
    QByteArray ini = "[Brennwerk.Padding]\r\n";
    for (int i = 0; ini.size() + sample.size() < (1 << 20); ++i)
        ini += "Entry" + QByteArray::number(i) + "=(Command=\"Say padding line\",Alias=Pad" + QByteArray::number(i)
            + ")\r\n";
    return ini + sample;
}

// One running editor over its own copy of the sample installation.
struct Editor {
    QTemporaryDir dir;
    QString game;
    QString mainIni;
    QString userIni;
    QByteArray mainOriginal;
    QByteArray userOriginal;
    SilentBoxes boxes;
    std::unique_ptr<THauptForm> window;

    explicit Editor(bool bigUserIni)
    {
        game = dir.filePath(QStringLiteral("UnrealTournament"));
        const QString examples = QStringLiteral(BRENNWERK_SOURCE_DIR "/examples");
        QDirIterator it(examples, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString source = it.next();
            const QString target = game + source.mid(examples.size());
            QDir().mkpath(QFileInfo(target).absolutePath());
            writeAll(target, readAll(source));
        }
        mainIni = game + QStringLiteral("/System/UnrealTournament.ini");
        userIni = game + QStringLiteral("/System/User.ini");
        if (bigUserIni)
            writeAll(userIni, megabyteUserIni(readAll(userIni)));
        mainOriginal = readAll(mainIni);
        userOriginal = readAll(userIni);
        EditorOptions options;
        options.gameDir = game;
        options.registryPath = dir.filePath(QStringLiteral("system.reg"));
        window = openEditor(options, boxes, [] { return 512u * 1024u * 1024u; });
        if (!window)
            std::abort();
        if (window->RendererForm)
            window->RendererForm->close();
        QCoreApplication::processEvents();
    }

    template <typename T>
    T* child(const char* name) const
    {
        T* widget = window->findChild<T*>(QLatin1String(name));
        if (!widget) {
            std::fprintf(stderr, "no widget %s\n", name);
            std::abort();
        }
        return widget;
    }

    void show(const char* page)
    {
        window->PageControl1->setCurrentWidget(child<QWidget>(page));
        QCoreApplication::processEvents();
    }
};

// Taken apart before the application ends: widgets must not outlive it.
std::map<bool, std::unique_ptr<Editor>> editors;

Editor& editor(bool big)
{
    auto& slot = editors[big];
    if (!slot)
        slot = std::make_unique<Editor>(big);
    return *slot;
}

void leave(QWidget* field)
{
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(field, &out);
}

// A page's largest write. `prepare` (not timed) makes the next write a real
// change of the file, `act` is the user's action that writes.
struct Write {
    std::function<void(Editor&, int round)> prepare;
    std::function<void(Editor&)> act;
};

struct PageCase {
    const char* page;
    const char* what;
    Write write;
};

const std::vector<PageCase>& pages()
{
    // Restoring the file a page last wrote makes its next write change it again.
    const auto restoreUserIni = [](Editor& e, int) { writeAll(e.userIni, e.userOriginal); };
    static const std::vector<PageCase> cases = {
        {"tsSystem", "cache size, Eintragen",
         {[](Editor& e, int round) {
              EventRules::setText(e.child<MaskedEdit>("meCache"), round % 2 ? QStringLiteral("128") : QStringLiteral("256"));
          },
          [](Editor& e) { e.child<QAbstractButton>("bCacheEintragen")->click(); }}},
        {"tsUser", "HasBeatenGame, Eintragen",
         {restoreUserIni, [](Editor& e) { e.child<QAbstractButton>("bXanEintragen")->click(); }}},
        {"tsMultiplayer", "server name, typed",
         {[](Editor&, int) {},
          [](Editor& e) {
              auto* field = e.child<QLineEdit>("leServerName");
              EventRules::setText(field, field->text().endsWith(u'!') ? field->text().chopped(1) : field->text() + u'!');
          }}},
        {"tsTastenbelegung", "all key bindings, Eintragen",
         {[](Editor& e, int) { writeAll(e.userIni, QByteArray(e.userOriginal).replace("\r\nF1=", "\r\nF1=x")); },
          [](Editor& e) { e.child<QAbstractButton>("bKeyBindEintragen")->click(); }}},
        {"tsRegistry", "install path, ticked",
         {[](Editor& e, int) {
              // Another folder in the registry file, so that the tick
              // writes the game's back: a write of the value the key
              // holds is no change.
              const QString registry = e.dir.filePath(QStringLiteral("system.reg"));
              if (QFileInfo::exists(registry)) {
                  QByteArray bytes = readAll(registry);
                  if (bytes.contains("\"Folder\"=\""))
                      writeAll(registry, bytes.replace("\"Folder\"=\"", "\"Folder\"=\"X"));
              }
              auto* box = e.child<QAbstractButton>("cbUTPath");
              const QSignalBlocker blocker(box);
              box->setEnabled(true);
              box->setChecked(false);
          },
          [](Editor& e) { e.child<QAbstractButton>("cbUTPath")->click(); }}},
        {"tsWeapponpriority", "priority 1, Eintragen",
         {[](Editor& e, int round) {
              EventRules::setText(e.child<MaskedEdit>("mePriority"), QStringLiteral("1"));
              auto* combo = e.child<QComboBox>("coboWeappon");
              combo->setCurrentIndex(round % 2 ? 1 : 2);
          },
          [](Editor& e) { e.child<QAbstractButton>("bPriorityEintragen")->click(); }}},
        {"tsAliases", "all 40 aliases, Wiederherstellen",
         {[](Editor& e, int) {
              writeAll(e.userIni, QByteArray(e.userOriginal).replace("\r\nAliases[0]=", "\r\nAliases[0]=x"));
          },
          [](Editor& e) { e.child<QAbstractButton>("bOriginalAliases")->click(); }}},
        {"ts3DRender", "OpenGL refresh rate, left",
         {[](Editor& e, int round) {
              EventRules::setText(e.child<MaskedEdit>("meRefreshRateGL"), round % 2 ? QStringLiteral("85") : QStringLiteral("75"));
          },
          [](Editor& e) { leave(e.child<MaskedEdit>("meRefreshRateGL")); }}},
    };
    return cases;
}

void reportBoxes(benchmark::State& state, const Editor& e, int errorsBefore)
{
    if (e.boxes.errors != errorsBefore)
        state.SkipWithError("an error box was shown");
}

void showPage(benchmark::State& state, bool big, const PageCase& page)
{
    Editor& e = editor(big);
    const int errors = e.boxes.errors;
    // Another page first, so that each round really switches.
    const char* other = std::string_view(page.page) == "tsSystem" ? "tsAliases" : "tsSystem";
    for (auto _ : state) {
        state.PauseTiming();
        e.show(other);
        state.ResumeTiming();
        e.show(page.page);
    }
    reportBoxes(state, e, errors);
}

// A page's first show in a fresh editor, which builds all but the pages
// built at start.
void firstShow(benchmark::State& state, bool big, const PageCase& page)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto fresh = std::make_unique<Editor>(big);
        state.ResumeTiming();
        fresh->show(page.page);
        state.PauseTiming();
        if (fresh->boxes.errors != 0)
            state.SkipWithError("an error box was shown");
        fresh.reset();
        state.ResumeTiming();
    }
}

void writePage(benchmark::State& state, bool big, const PageCase& page)
{
    Editor& e = editor(big);
    e.show(page.page);
    const int errors = e.boxes.errors;
    const QString registry = e.dir.filePath(QStringLiteral("system.reg"));
    const auto files = [&] {
        return SafeFile::read(e.mainIni).value_or(QByteArray()) + SafeFile::read(e.userIni).value_or(QByteArray())
            + SafeFile::read(registry).value_or(QByteArray());
    };
    // Rounds count on across the runs Google Benchmark makes of this case on
    // this editor, so that the values written keep alternating from what its
    // files hold.
    static std::map<std::pair<const Editor*, const PageCase*>, int> rounds;
    int& round = rounds[{&e, &page}];
    const int first = round;
    int changed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        page.write.prepare(e, ++round);
        QCoreApplication::processEvents();
        const QByteArray before = files();
        state.ResumeTiming();
        page.write.act(e);
        QCoreApplication::processEvents();
        state.PauseTiming();
        changed += files() != before ? 1 : 0;
        state.ResumeTiming();
    }
    // Each round must have changed a file, or it timed no write at all.
    if (changed != round - first)
        state.SkipWithError("a round wrote nothing");
    reportBoxes(state, e, errors);
}

void rawRead(benchmark::State& state, bool big, bool user)
{
    Editor& e = editor(big);
    const QString path = user ? e.userIni : e.mainIni;
    for (auto _ : state)
        benchmark::DoNotOptimize(SafeFile::read(path));
    state.SetLabel(QStringLiteral("%1 KB").arg(QFileInfo(path).size() / 1024).toStdString());
}

void registerAll()
{
    for (const bool big : {false, true}) {
        const std::string set = big ? "1MB_user.ini" : "sample";
        benchmark::RegisterBenchmark(("RawRead/" + set + "/UnrealTournament.ini").c_str(),
                                     [big](benchmark::State& s) { rawRead(s, big, false); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("RawRead/" + set + "/User.ini").c_str(),
                                     [big](benchmark::State& s) { rawRead(s, big, true); })
            ->Unit(benchmark::kMillisecond);
        for (const PageCase& page : pages()) {
            // The System page's first show is part of the start.
            if (std::string_view(page.page) != "tsSystem")
                benchmark::RegisterBenchmark(("FirstShow/" + set + "/" + page.page).c_str(),
                                             [big, &page](benchmark::State& s) { firstShow(s, big, page); })
                    ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("Show/" + set + "/" + page.page).c_str(),
                                         [big, &page](benchmark::State& s) { showPage(s, big, page); })
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("Write/" + set + "/" + page.page).c_str(),
                                         [big, &page](benchmark::State& s) {
                                             s.SetLabel(page.what);
                                             writePage(s, big, page);
                                         })
                ->Unit(benchmark::kMillisecond);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    editors.clear();
    return 0;
}
