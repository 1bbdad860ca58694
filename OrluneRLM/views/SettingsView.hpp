#pragma once
// The settings sheet: the stored API key (masked), the model server's address,
// the model name, the contact files and the chats left out; replaces them.

#include "models/SettingsViewModel.hpp"
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
// on macOS). It binds its fields to a SettingsViewModel on `config`, which
// must outlive the dialog, and loads them each time it is shown. Save is
// enabled by any change that can be saved (also emptying a field, which
// removes that setting); an address that cannot be used is explained under
// its field. VEYRLINK_BASE_URL and ORLUNE_RLM_MODEL, when set, win over the
// saved address and model. "Cancel" rejects it without saving; a successful
// save shows "Saved!" and accepts it one second later (that close is
// dropped if the dialog is destroyed first). Return in a field does nothing.
//
// The contact files (vCard) are listed in the order the sync reads them,
// each file that cannot be read now marked so; "Add…" appends the files
// chosen (those already listed are not added twice), "Remove" takes out the
// selected one.
//
// The chats (SettingsViewModel::setChatSource) each have a switch, on for a
// chat that is copied; switching one off and saving leaves it out. They are
// read off the GUI thread: the list says "Loading chats…" meanwhile, and
// holds one line with the reason when they cannot be read.
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
    SettingsViewModel& model() { return model_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void saveSettings();
    void updateWidgets();
    void addContactFiles();
    void updateChatList();

    SettingsViewModel model_;
    FileChooser chooseFiles_;

    QLineEdit* keyField_ = nullptr;
    QLineEdit* addressField_ = nullptr;
    QLabel* addressProblemLabel_ = nullptr;
    QLineEdit* modelField_ = nullptr;
    QListWidget* contactsList_ = nullptr;
    QPushButton* removeContactsButton_ = nullptr;
    QListWidget* chatsList_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QLabel* savedLabel_ = nullptr;
    QPushButton* saveButton_ = nullptr;
};

} // namespace orlune::rlm
