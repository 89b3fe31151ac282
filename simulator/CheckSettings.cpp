// trutina-check [file]: checks a settings file of the substitute driver before a run, without
// changing it. Prints what is wrong (the key or line and what was expected, as the driver's
// damaged-file notice says it) and exits with 1, or says the file is in order and exits with 0.
// Without an argument it checks the file the driver would read.
#include "simulator/SettingsFile.h"
#include "simulator/SettingsStore.h"

#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    const QString path = argc > 1 ? QFile::decodeName(argv[1]) : trutina::TSettingsStore::DefaultPath();
    const QByteArray shown = QFile::encodeName(path);
    const std::string problem = trutina::CheckSettingsFile(std::filesystem::path(shown.toStdString()));
    if (problem.empty()) {
        std::printf("%s: файл настроек в порядке\n", shown.constData());
        return 0;
    }
    // A refusal names the path itself.
    if (problem.rfind(shown.toStdString(), 0) == 0)
        std::printf("%s\n", problem.c_str());
    else
        std::printf("%s: %s\n", shown.constData(), problem.c_str());
    return 1;
}
