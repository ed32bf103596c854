// Modal popups: message, warning and Yes/No boxes, the file-selection dialog,
// and the language of Qt's own dialog texts. A test may answer them instead.
#include "platform/Toolkit.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTranslator>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ToolkitInternal.h"

using namespace toolkit;

// ---- popups -----------------------------------------------------------------------

void UiSetPopupResponder(UiPopupResponder* responder) {
    Reg().responder = responder;
}

int UiSetStockDialogLocale(const char* locale) {
    static QPointer<QTranslator> installed;
    if (!qApp) {
        return UIE_NOT_INITIALIZED;
    }
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed.data();
    }
    const QString name = ToQ(locale);
    // Qt's own texts are English already.
    if (name.isEmpty() || name.startsWith(QLatin1String("en"))) {
        return 0;
    }
    auto* translator = new QTranslator(qApp);
    if (!translator->load(QStringLiteral("qtbase_") + name,
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return UIE_FILE_NOT_FOUND;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return 0;
}

int MessagePopup(const char* title, const char* message) {
    if (Reg().responder) {
        return Reg().responder->Message(title ? title : "", message ? message : "");
    }
    if (!qApp) {
        return UIE_NOT_INITIALIZED;
    }
    QMessageBox box(QMessageBox::Information, ToQ(title), ToQ(message), QMessageBox::Ok,
                    Reg().mainHost);
    box.exec();
    return 0;
}

constexpr int kWarningDetailWidth = 520;

int WarningPopup(const char* title, const char* message, const char* detail) {
    if (Reg().responder) {
        return Reg().responder->Warning(title ? title : "", message ? message : "",
                                        detail ? detail : "");
    }
    if (!qApp) {
        return UIE_NOT_INITIALIZED;
    }
    QMessageBox box(QMessageBox::Warning, ToQ(title), ToQ(message), QMessageBox::Ok,
                    Reg().mainHost);
    box.setInformativeText(ToQ(detail));
    // Device paths in the detail would otherwise wrap at every few words.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()); grid && detail && *detail) {
        grid->addItem(
            new QSpacerItem(kWarningDetailWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
            grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
    return 0;
}

int ConfirmPopup(const char* title, const char* message) {
    if (Reg().responder) {
        return Reg().responder->Confirm(title ? title : "", message ? message : "");
    }
    if (!qApp) {
        return UIE_NOT_INITIALIZED;
    }
    QMessageBox box(QMessageBox::Question, ToQ(title), ToQ(message),
                    QMessageBox::Yes | QMessageBox::No, Reg().mainHost);
    return box.exec() == QMessageBox::Yes ? 1 : 0;
}

int GenericMessagePopup(const char* title, const char* message, const char* button1,
                        const char* button2, const char* button3, int escapeButton) {
    std::vector<std::string> texts;
    for (const char* b : {button1, button2, button3}) {
        if (b && *b) {
            texts.emplace_back(b);
        }
    }
    const int count = static_cast<int>(texts.size());
    const int escape = std::clamp(escapeButton, 1, std::max(1, count));
    if (Reg().responder) {
        return Reg().responder->Generic(title ? title : "", message ? message : "", texts, escape);
    }
    if (!qApp) {
        return UIE_NOT_INITIALIZED;
    }
    QMessageBox box(QMessageBox::Question, ToQ(title), ToQ(message), QMessageBox::NoButton,
                    Reg().mainHost);
    std::vector<QPushButton*> buttons;
    for (int i = 0; i < count; ++i) {
        // The roles only order the buttons as the platform likes; the answer is the button.
        const QMessageBox::ButtonRole role =
            i + 1 == escape ? QMessageBox::RejectRole
                            : (i == 0 ? QMessageBox::AcceptRole : QMessageBox::DestructiveRole);
        buttons.push_back(box.addButton(ToQ(texts[static_cast<size_t>(i)].c_str()), role));
    }
    if (count == 0) {
        return 1;
    }
    box.setDefaultButton(buttons.front());
    box.setEscapeButton(buttons[static_cast<size_t>(escape - 1)]);
    box.exec();
    for (int i = 0; i < count; ++i) {
        if (box.clickedButton() == buttons[static_cast<size_t>(i)]) {
            return i + 1;
        }
    }
    return escape;
}

int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec,
                    const char* fileTypeList, const char* title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char* pathName) {
    (void)restrictDirectory;
    (void)allowCancel;
    if (!pathName) {
        return UIE_BAD_ATTRIBUTE;
    }
    pathName[0] = '\0';
    std::string chosen;
    int status = VAL_NO_FILE_SELECTED;
    if (Reg().responder) {
        status = Reg().responder->FileSelect(buttonLabel, defaultFileSpec ? defaultFileSpec : "",
                                             &chosen);
    } else {
        if (!qApp) {
            return UIE_NOT_INITIALIZED;
        }
        QFileDialog dialog(Reg().mainHost, PlainTitle(ToQ(title)),
                           ToQ(defaultDirectory).isEmpty() ? QDir::currentPath()
                                                           : ToQ(defaultDirectory));
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setOption(QFileDialog::ReadOnly, allowMakeDirectory == 0);
        const QString pattern = ToQ(fileTypeList);
        dialog.setNameFilter(pattern.isEmpty() ? QStringLiteral("*") : pattern);
        // "*.csv" alone or inside a named filter: "CSV files (*.csv)".
        static const QRegularExpression kExtension(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
        const QRegularExpressionMatch extension = kExtension.match(pattern);
        // Select names a file to write into that may or may not exist: no
        // question about replacing it, since nothing is replaced.
        const bool selecting = buttonLabel == VAL_SELECT_BUTTON;
        const bool saving = buttonLabel == VAL_SAVE_BUTTON || selecting;
        dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, selecting);
        if (restrictExtension && extension.hasMatch()) {
            dialog.setDefaultSuffix(extension.captured(1));
        }
        const QString proposed = ToQ(defaultFileSpec);
        if (saving && !proposed.isEmpty() && !proposed.contains(QLatin1Char('*'))) {
            dialog.selectFile(proposed);
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return VAL_NO_FILE_SELECTED;
        }
        const QString path = dialog.selectedFiles().first();
        chosen = path.toStdString();
        status = QFileInfo::exists(path) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
    }
    if (status != VAL_EXISTING_FILE_SELECTED && status != VAL_NEW_FILE_SELECTED) {
        return status;
    }
    // A path that does not fit is an error, never a silently shortened name.
    if (chosen.empty() || chosen.size() > MAX_PATHNAME_LEN - 1) {
        return UIE_BAD_ATTRIBUTE;
    }
    std::memcpy(pathName, chosen.c_str(), chosen.size() + 1);
    return status;
}
