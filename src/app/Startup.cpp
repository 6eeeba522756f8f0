#include "app/Startup.h"

#include "app/HauptUnit.h"
#include "app/RendererUnit.h"
#include "cli/ConsoleCommands.h"
#include "platform/PhysicalMemory.h"
#include "platform/RegistryFile.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool loadQtTranslations(const QLocale& locale)
{
    // Lives as long as the application; one load per run.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

// Outside any namespace: the macro declares the registration function.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

void registerResources()
{
    static const bool registered = (initResources(), true);
    Q_UNUSED(registered);
}

std::unique_ptr<THauptForm> openEditor(const EditorOptions& options, MessageBoxes& boxes,
                                       std::function<std::uint32_t()> totalPhysicalMemory)
{
    registerResources();
    if (!totalPhysicalMemory)
        totalPhysicalMemory = totalPhysicalMemoryBytes;
    auto window = std::make_unique<THauptForm>(boxes, std::make_unique<RegistryFile>(options.registryPath),
                                               std::move(totalPhysicalMemory), options.gameDir, options.iniDir);
    if (!window->FormCreate())
        return nullptr;
    window->RendererForm = std::make_unique<TRendererForm>(*window);
    return window;
}

StartResult startEditor(const QStringList& arguments, MessageBoxes& boxes, QString& out, QString& err,
                        std::function<std::uint32_t()> totalPhysicalMemory,
                        const std::function<bool(QString& err)>& prepareWindow)
{
    const CommandLine commandLine = parseCommandLine(arguments);
    StartResult result;
    if (const std::optional<int> status = runWithoutWindow(commandLine, out, err)) {
        result.exitCode = *status;
        return result;
    }
    if (prepareWindow && !prepareWindow(err)) {
        result.exitCode = 1;
        return result;
    }
    result.window = openEditor(commandLine.options, boxes, std::move(totalPhysicalMemory));
    return result;
}
