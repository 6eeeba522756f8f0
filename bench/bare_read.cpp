// The yardstick for a command's whole process (bench_command): the least a
// program on Qt Core does to answer from an INI file. It reads the file
// through QFile and prints its size, linking Qt Core and nothing of ours,
// built with the same flags as the editor.

#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bare_read FILE\n");
        return 2;
    }
    QFile file(QFile::decodeName(argv[1]));
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = file.readAll();
    std::printf("%lld\n", static_cast<long long>(bytes.size()));
    return 0;
}
