#include "app/AskAndRegister.h"

#include "about/fmuAbout.h"
#include "driver/Registration.h"
#include "forms/Application.h"
#include "forms/Controls.h"
#include "platform/bitness.h"
#include "platform/classregistry.h"
#include "runtime/exceptions.h"

#include <QFileDialog>
#include <QMessageBox>

const char* const DriverFileFilter = "Драйвер (*.dll)|*.dll|Компонент OCX (*.OCX)|*.OCX|Все файлы (*.*)|*.*";

namespace {

QString ApplicationTitle()
{
    forms::TApplication* app = forms::Application();
    return app ? app->Title() : QString();
}

// Names a registered driver that this program cannot load for its bitness, and the Ponderix that
// can; empty when there is none.
QString OtherBitnessNote()
{
    std::string module;
    int bitness = 0;
    if (!platform::FindServerOfOtherBitness(CLSID_Statera, module, bitness))
        return {};
    // In isolated mode a host of the driver's bitness loads it: this note then never comes.
    return QStringLiteral("Зарегистрированный драйвер %1 — %2-разрядный модуль, а эта программа %3-разрядная "
                          "и загрузить его в свой процесс не может. Запустите её с ключом --isolated (драйвер "
                          "будет работать в отдельном процессе своей разрядности), или %2-разрядную программу "
                          "из ponderix-%4-%5.zip, или зарегистрируйте %3-разрядный драйвер.")
        // in one pass: a %3 in the path stays as it is
        .arg(QString::fromStdString(module), QString::number(bitness), QString::number(platform::kProgramBitness),
             QString::fromStdString(GetVersionString()), bitness == 32 ? QStringLiteral("win32") : QStringLiteral("win64"));
}

} // namespace

std::string FormatPrompt(const std::string& format, const std::string& fileName)
{
    std::string text = format;
    if (const auto at = text.find("%s"); at != std::string::npos)
        text.replace(at, 2, fileName);
    return text;
}

QStringList ConvertFileFilter(const std::string& filter)
{
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt takes the patterns from the parentheses at the end; a description that already ends
        // with them is used as it is.
        if (description.endsWith(QLatin1Char(')')) &&
            description.section(QLatin1Char('('), -1).chopped(1).trimmed() == patterns.trimmed())
            filters << description;
        else
            filters << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters;
}

void AskAndRegisterServer(const std::string& PromptFormat, const std::string& FileName)
{
    QMessageBox prompt(QMessageBox::Warning, ApplicationTitle(),
                       QString::fromStdString(FormatPrompt(PromptFormat, FileName)),
                       QMessageBox::Ok | QMessageBox::Cancel);
    // A damaged class registry refuses every registration: say so and name the file, or the
    // prompt would come back for ever without a word about why. A driver of the other bitness is
    // registered but cannot be loaded here: name it and the program that can.
    QStringList notes;
    if (const std::string problem = platform::ClassRegistryProblem(); !problem.empty())
        notes << QStringLiteral("Реестр классов не может быть использован: ") + QString::fromStdString(problem);
    if (const QString note = OtherBitnessNote(); !note.isEmpty())
        notes << note;
    if (!platform::CanRegisterForAllUsers())
        notes << QStringLiteral("Прав администратора нет: драйвер будет зарегистрирован только для текущего "
                                "пользователя.");
    prompt.setInformativeText(notes.join(QStringLiteral("\n\n")));
    // Paths and --isolated in the face of the Russian text, not in a fallback of their own.
    prompt.setFont(forms::FontForText(prompt.font(), prompt.text() + prompt.informativeText()));
    prompt.setDefaultButton(QMessageBox::Ok);
    prompt.setEscapeButton(QMessageBox::Cancel);
    if (prompt.exec() != QMessageBox::Ok)
        throw runtime::EAbort();

    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile); // the path and the file must exist
    dialog.setDefaultSuffix(QStringLiteral("dll"));
    const QStringList filters = ConvertFileFilter(DriverFileFilter);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
    dialog.selectFile(QString::fromStdString(FileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        throw runtime::EAbort();

    RegisterServerFile(dialog.selectedFiles().first().toStdString());
}
