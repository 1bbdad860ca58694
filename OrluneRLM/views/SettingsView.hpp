#pragma once
// The settings sheet: the stored API key (masked), the model server's address,
// the model name and the contact files; replaces them.

#include "services/ConfigManager.hpp"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace orlune::rlm {

// GUI thread only; a window-modal dialog over its parent's window (a sheet
// on macOS). Saves through `config`, which must outlive the dialog. Each
// time it is shown it loads the stored key, address and model into their
// fields, untrimmed. Save is enabled once the key or the address is not blank
// (the key is optional for a server of the person's own); saving stores each
// field trimmed and removes the settings left blank. VEYRLINK_BASE_URL and
// ORLUNE_RLM_MODEL, when set, win over the saved address and model.
// "Cancel" rejects it without saving; a successful save shows "Saved!" and
// accepts it one second later (that close is dropped if the dialog is
// destroyed first). Return in the field does nothing.
//
// The contact files (vCard) are listed in the order the sync reads them,
// each file that cannot be read now marked so; "Add…" appends the files
// chosen (those already listed are not added twice), "Remove" takes out the
// selected one. A changed list can be saved without a key.
class SettingsView : public QDialog {
    Q_OBJECT

public:
    using UrlOpener = std::function<bool(const QUrl&)>;
    // Asks the person for vCard files to add; the paths chosen, none when
    // cancelled. The default is the platform's file dialog.
    using FileChooser = std::function<QStringList(QWidget* parent)>;

    // How long "Saved!" stays before the sheet closes itself.
    static constexpr int kCloseDelayMilliseconds = 1000;

    SettingsView(ConfigManager& config, UrlOpener openUrl, QWidget* parent = nullptr);

    void setFileChooser(FileChooser chooser) { chooseFiles_ = std::move(chooser); }
    // The contact files as listed now.
    std::vector<std::string> contactFiles() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void saveApiKey();
    void updateWidgets();
    void addContactFiles();
    void removeContactFile();
    void listContactFile(const QString& path);

    ConfigManager& config_;
    QString apiKey_;
    bool isSaved_ = false;
    QString errorMessage_;

    QLineEdit* keyField_ = nullptr;
    QLineEdit* addressField_ = nullptr;
    QLineEdit* modelField_ = nullptr;
    QListWidget* contactsList_ = nullptr;
    QPushButton* removeContactsButton_ = nullptr;
    std::vector<std::string> loadedContactFiles_;
    FileChooser chooseFiles_;
    QLabel* errorLabel_ = nullptr;
    QLabel* savedLabel_ = nullptr;
    QPushButton* saveButton_ = nullptr;
};

} // namespace orlune::rlm
