#include "models/SettingsViewModel.hpp"

#include "services/ModelServer.hpp"
#include "services/TextTrimming.hpp"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <exception>
#include <optional>

namespace orlune::rlm {

namespace {

// A field as stored: trimmed, and absent when blank.
std::optional<std::string> stored(const std::string& text) {
    std::string value = trimmedText(text);
    return value.empty() ? std::nullopt : std::optional<std::string>(std::move(value));
}

std::optional<std::string> stored(const std::optional<std::string>& text) {
    return text ? stored(*text) : std::nullopt;
}

} // namespace

SettingsViewModel::SettingsViewModel(ConfigManager& config, QObject* parent)
    : QObject(parent), config_(config) {}

void SettingsViewModel::load() {
    loaded_ = config_.load();
    apiKey_ = QString::fromStdString(loaded_.veyrlinkApiKey.value_or(std::string()));
    address_ = QString::fromStdString(loaded_.modelServerAddress.value_or(std::string()));
    modelName_ = QString::fromStdString(loaded_.modelName.value_or(std::string()));
    contactFiles_ = loaded_.contactsFiles;
    chats_.clear();
    chatListProblem_.clear();
    chatListState_ = chatSource_ ? ChatListState::loading : ChatListState::none;
    if (chatSource_) {
        listChatsInBackground(loaded_);
    }
    errorMessage_.clear();
    isSaved_ = false;
    emit changed();
}

void SettingsViewModel::listChatsInBackground(const AppConfig& stored) {
    struct Listed {
        std::vector<ListedChat> chats;
        std::optional<std::string> problem;
    };
    const int request = ++chatListRequest_;
    // The task owns copies of what it uses; the watcher (a child of the
    // model) brings the list back to this thread, and is gone with the model
    // if the model goes first.
    auto* watcher = new QFutureWatcher<Listed>(this);
    connect(watcher, &QFutureWatcher<Listed>::finished, this, [this, watcher, request] {
        const Listed listed = watcher->result();
        watcher->deleteLater();
        if (request != chatListRequest_) {
            return;
        }
        chats_ = listed.chats;
        chatListProblem_ = QString::fromStdString(listed.problem.value_or(std::string()));
        chatListState_ = listed.problem ? ChatListState::failed : ChatListState::listed;
        emit changed();
    });
    watcher->setFuture(QtConcurrent::run([source = chatSource_, stored]() -> Listed {
        try {
            return Listed{source(stored), std::nullopt};
        } catch (const std::exception& error) {
            return Listed{{}, std::string(error.what())};
        } catch (...) {
            return Listed{{}, std::string("The chats could not be read.")};
        }
    }));
}

void SettingsViewModel::setApiKey(const QString& text) {
    if (apiKey_ != text) {
        apiKey_ = text;
        edited();
    }
}

void SettingsViewModel::setAddress(const QString& text) {
    if (address_ != text) {
        address_ = text;
        edited();
    }
}

void SettingsViewModel::setModelName(const QString& text) {
    if (modelName_ != text) {
        modelName_ = text;
        edited();
    }
}

void SettingsViewModel::addContactFiles(const QStringList& paths) {
    bool added = false;
    for (const QString& path : paths) {
        const std::string file = path.toStdString();
        if (file.empty() || std::ranges::find(contactFiles_, file) != contactFiles_.end()) {
            continue;
        }
        contactFiles_.push_back(file);
        added = true;
    }
    if (added) {
        edited();
    }
}

void SettingsViewModel::removeContactFile(int index) {
    if (index >= 0 && index < static_cast<int>(contactFiles_.size())) {
        contactFiles_.erase(contactFiles_.begin() + index);
        edited();
    }
}

void SettingsViewModel::setChatExcluded(const std::string& chatId, bool excluded) {
    for (ListedChat& chat : chats_) {
        if (chat.chatId == chatId && chat.excluded != excluded) {
            chat.excluded = excluded;
            edited();
        }
    }
}

void SettingsViewModel::edited() {
    isSaved_ = false;
    emit changed();
}

AppConfig SettingsViewModel::entered() const {
    AppConfig config;
    config.veyrlinkApiKey = stored(apiKey_.toStdString());
    config.modelServerAddress = stored(address_.toStdString());
    config.modelName = stored(modelName_.toStdString());
    config.contactsFiles = contactFiles_;
    // The stored list in its order, less the chats taken back in, plus the
    // chats newly left out.
    config.excludedChats = loaded_.excludedChats;
    for (const ListedChat& chat : chats_) {
        if (chat.excluded) {
            if (!loaded_.excludedChatIds().count(chat.chatId)) {
                config.excludeChat(chat.chatId, chat.title);
            }
        } else {
            config.includeChat(chat.chatId);
        }
    }
    return config;
}

bool SettingsViewModel::hasChanges() const {
    const AppConfig now = entered();
    return now.veyrlinkApiKey != stored(loaded_.veyrlinkApiKey) ||
           now.modelServerAddress != stored(loaded_.modelServerAddress) ||
           now.modelName != stored(loaded_.modelName) ||
           now.contactsFiles != loaded_.contactsFiles || now.excludedChats != loaded_.excludedChats;
}

QString SettingsViewModel::addressProblem() const {
    return ModelServer::addressProblem(address_);
}

bool SettingsViewModel::save() {
    if (!canSave()) {
        return false;
    }
    errorMessage_.clear();
    isSaved_ = false;
    const AppConfig now = entered();
    AppConfig configuration;
    try {
        configuration = config_.load();
        configuration.veyrlinkApiKey = now.veyrlinkApiKey;
        configuration.modelServerAddress = now.modelServerAddress;
        configuration.modelName = now.modelName;
        configuration.contactsFiles = now.contactsFiles;
        configuration.excludedChats = now.excludedChats;
        config_.save(configuration);
    } catch (const std::exception& error) {
        errorMessage_ = QStringLiteral("Failed to save: ") + QString::fromUtf8(error.what());
        emit changed();
        return false;
    }
    loaded_ = configuration;
    isSaved_ = true;
    emit changed();
    return true;
}

} // namespace orlune::rlm
