// The yardstick for the editor's start-up: a plain QMainWindow, shown the way
// the editor shows its window, reporting when it is first exposed to the
// program that started it (bench_startup), then ending at once. With --text
// it holds one line of text: the least any window pays that shows text
// (fonts, text shaping, the style's text metrics).
// Built with the benchmarks (the target bare_window) against Qt Widgets alone.

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("bare window"));
    if (argc > 1 && std::strcmp(argv[1], "--text") == 0)
        window.setCentralWidget(new QLabel(QStringLiteral("Eine Zeile Text"), &window));
    window.show();
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const char* started = std::getenv("BRENNWERK_BENCH_STARTED_NS");
    const long long now = static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
    std::printf("exposed %lld\n", now - (started ? std::atoll(started) : now));
    std::fflush(stdout);
    std::_Exit(0);
}
