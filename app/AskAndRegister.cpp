#include "app/AskAndRegister.h"

#include "driver/Registration.h"
#include "forms/Application.h"
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
    // prompt would come back for ever without a word about why.
    if (const std::string problem = platform::ClassRegistryProblem(); !problem.empty())
        prompt.setInformativeText(QStringLiteral("Реестр классов не может быть использован: ") +
                                  QString::fromStdString(problem));
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
