#pragma once
// The state behind the settings sheet: the key, the model server, the model,
// the contact files and the chats left out as edited, whether anything
// changed, and saving.

#include "services/AppConfig.hpp"
#include "services/ChatList.hpp"
#include "services/ConfigManager.hpp"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

namespace orlune::rlm {

// GUI thread only. Saves through `config`, which must outlive the model.
// changed() follows every change of what the getters return.
//
// Each field is saved trimmed; a field left blank removes its setting.
// hasChanges() compares what is entered with what was loaded, both so read,
// so any real change (also emptying a field) can be saved and nothing else.
// An address that cannot be used (ModelServer::addressProblem) is never
// saved: canSave() is false and addressProblem() says why.
class SettingsViewModel : public QObject {
    Q_OBJECT

public:
    explicit SettingsViewModel(ConfigManager& config, QObject* parent = nullptr);

    // Reads the stored settings into the fields, untrimmed, and forgets any
    // message.
    void load();

    const QString& apiKey() const { return apiKey_; }
    const QString& address() const { return address_; }
    const QString& modelName() const { return modelName_; }
    const std::vector<std::string>& contactFiles() const { return contactFiles_; }
    void setApiKey(const QString& text);
    void setAddress(const QString& text);
    void setModelName(const QString& text);
    // Appends the files not listed yet, in order; blank paths are skipped.
    void addContactFiles(const QStringList& paths);
    // Takes out the file at `index`; nothing when there is none.
    void removeContactFile(int index);

    // Lists the chats a person can leave out, given the stored settings
    // (ChatList's listChats on the shadow database). Asked by each load(),
    // on a worker thread, so it must be safe to call from any thread; it
    // may throw, which lists no chats and keeps its message.
    using ChatSource = std::function<std::vector<ListedChat>(const AppConfig& stored)>;
    void setChatSource(ChatSource source) { chatSource_ = std::move(source); }

    // Where the chat list of the last load() stands: none without a source,
    // loading while the source runs, then listed or failed (changed() is
    // emitted when it arrives; a list asked for by an earlier load() is
    // dropped).
    enum class ChatListState { none, loading, listed, failed };
    ChatListState chatListState() const { return chatListState_; }
    // Why the chats could not be listed (the source's message); empty
    // unless failed.
    const QString& chatListProblem() const { return chatListProblem_; }
    // The chats as listed since load(), each marked as edited since.
    const std::vector<ListedChat>& chats() const { return chats_; }
    // Leaves the listed chat with `chatId` out, or takes it back in; nothing
    // for a chat not listed. A chat newly left out is saved with its title.
    void setChatExcluded(const std::string& chatId, bool excluded);

    bool hasChanges() const;
    // Why the address cannot be saved; empty when it can.
    QString addressProblem() const;
    bool canSave() const { return hasChanges() && addressProblem().isEmpty(); }

    // The last save's failure ("Failed to save: " and why); empty otherwise.
    const QString& errorMessage() const { return errorMessage_; }
    // The last save succeeded (cleared by the next edit or save).
    bool isSaved() const { return isSaved_; }

    // Saves the fields into the stored configuration (its other settings
    // are kept). Returns whether it saved; does nothing and returns false
    // unless canSave().
    bool save();

signals:
    void changed();

private:
    // What the fields would store.
    AppConfig entered() const;
    void edited();
    // Asks the chat source for the chats of `stored` off this thread.
    void listChatsInBackground(const AppConfig& stored);

    ConfigManager& config_;
    AppConfig loaded_;
    QString apiKey_;
    QString address_;
    QString modelName_;
    std::vector<std::string> contactFiles_;
    ChatSource chatSource_;
    std::vector<ListedChat> chats_;
    ChatListState chatListState_ = ChatListState::none;
    QString chatListProblem_;
    // Counts the lists asked for; only the latest one is shown.
    int chatListRequest_ = 0;
    QString errorMessage_;
    bool isSaved_ = false;
};

} // namespace orlune::rlm
