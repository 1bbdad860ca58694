#include "views/SettingsView.hpp"

#include "base/Gateway.hpp"
#include "views/ViewStyle.hpp"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace orlune::rlm {

namespace {

// Rows of the contact file list shown without scrolling.
constexpr int kContactRows = 3;
// Rows of the chat list shown without scrolling.
constexpr int kChatRows = 5;

// How a chat is shown in the list: its title (else its id) and how many of
// its messages the copy holds.
QString chatLabel(const ListedChat& chat) {
    const QString title = QString::fromStdString(chat.title.value_or(chat.chatId));
    if (chat.excluded) {
        return title;
    }
    return title + QStringLiteral(" (%1)").arg(chat.messages);
}

// A field under its visible label, which names it for assistive technology
// too.
QLineEdit* labelledField(const QString& label, const QString& objectName, QVBoxLayout* layout,
                         QWidget* parent) {
    QLabel* name = ViewStyle::label(label, ViewStyle::TextStyle::body, ViewStyle::Tint::primary,
                                    objectName + QStringLiteral("Label"), parent);
    auto* field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setAccessibleName(label);
    name->setBuddy(field);
    layout->addWidget(name);
    layout->addWidget(field);
    return field;
}

} // namespace

SettingsView::SettingsView(ConfigManager& config, UrlOpener openUrl, QWidget* parent)
    : QDialog(parent), model_(config), chooseFiles_([](QWidget* owner) {
          return QFileDialog::getOpenFileNames(owner, QStringLiteral("Add Contact Files"),
                                               QString(),
                                               QStringLiteral("vCard files (*.vcf *.vcard)"));
      }) {
    setObjectName(QStringLiteral("settingsSheet"));
    setWindowTitle(QStringLiteral("Settings"));
    setAccessibleName(QStringLiteral("Settings"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(350);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(ViewStyle::kDefaultInset, ViewStyle::kDefaultInset,
                               ViewStyle::kDefaultInset, ViewStyle::kDefaultInset);
    layout->setSpacing(16);

    layout->addWidget(ViewStyle::label(QStringLiteral("Settings"), ViewStyle::TextStyle::headline,
                                       ViewStyle::Tint::primary, QStringLiteral("settingsTitle"),
                                       this));

    auto* keyGroup = new QVBoxLayout;
    keyGroup->setSpacing(6);
    keyGroup->addWidget(
        ViewStyle::label(QStringLiteral("Veyrlink API Key"), ViewStyle::TextStyle::subheadline,
                         ViewStyle::Tint::primary, QStringLiteral("settingsKeyHeading"), this));
    keyField_ = labelledField(QStringLiteral("API key"), QStringLiteral("settingsApiKeyField"),
                              keyGroup, this);
    keyField_->setPlaceholderText(QStringLiteral("API Key"));
    keyField_->setEchoMode(QLineEdit::Password);
    keyGroup->addWidget(ViewStyle::gatewayLinkRow(openUrl, this));
    layout->addLayout(keyGroup);

    // Any server speaking the chat-completions protocol; one on this machine
    // (llama.cpp, Ollama, LM Studio) needs no key.
    auto* serverGroup = new QVBoxLayout;
    serverGroup->setSpacing(6);
    serverGroup->addWidget(
        ViewStyle::label(QStringLiteral("Model Server"), ViewStyle::TextStyle::subheadline,
                         ViewStyle::Tint::primary, QStringLiteral("settingsServerHeading"), this));
    addressField_ = labelledField(QStringLiteral("Server address"),
                                  QStringLiteral("settingsAddressField"), serverGroup, this);
    addressField_->setPlaceholderText(QString::fromLatin1(core::gateway::kDefaultAPIBaseURL));
    addressProblemLabel_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::red,
                         QStringLiteral("settingsAddressProblem"), this);
    serverGroup->addWidget(addressProblemLabel_);
    modelField_ = labelledField(QStringLiteral("Model"), QStringLiteral("settingsModelField"),
                                serverGroup, this);
    modelField_->setPlaceholderText(QString::fromLatin1(core::gateway::kDefaultModel));
    serverGroup->addWidget(ViewStyle::label(
        QStringLiteral("Leave empty for Veyrlink. A server on this computer needs no API key."),
        ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
        QStringLiteral("settingsServerHint"), this));
    layout->addLayout(serverGroup);

    auto* contactsGroup = new QVBoxLayout;
    contactsGroup->setSpacing(8);
    QLabel* contactsHeading =
        ViewStyle::label(QStringLiteral("Contact Files"), ViewStyle::TextStyle::subheadline,
                         ViewStyle::Tint::primary, QStringLiteral("settingsContactsHeading"), this);
    contactsGroup->addWidget(contactsHeading);
    contactsList_ = new QListWidget(this);
    contactsList_->setObjectName(QStringLiteral("settingsContactsList"));
    contactsList_->setAccessibleName(QStringLiteral("Contact files"));
    contactsHeading->setBuddy(contactsList_);
    contactsList_->setFixedHeight(contactsList_->fontMetrics().height() * kContactRows +
                                  2 * contactsList_->frameWidth() + 6);
    contactsList_->setTextElideMode(Qt::ElideMiddle);
    contactsGroup->addWidget(contactsList_);
    auto* contactsButtons = new QHBoxLayout;
    auto* addContactsButton = new QPushButton(QStringLiteral("Add…"), this);
    addContactsButton->setObjectName(QStringLiteral("settingsAddContactsButton"));
    addContactsButton->setAccessibleName(QStringLiteral("Add contact files"));
    removeContactsButton_ = new QPushButton(QStringLiteral("Remove"), this);
    removeContactsButton_->setObjectName(QStringLiteral("settingsRemoveContactsButton"));
    removeContactsButton_->setAccessibleName(QStringLiteral("Remove the selected contact file"));
    contactsButtons->addWidget(addContactsButton);
    contactsButtons->addWidget(removeContactsButton_);
    contactsButtons->addStretch(1);
    contactsGroup->addLayout(contactsButtons);
    contactsGroup->addWidget(ViewStyle::label(
        QStringLiteral("vCard files read with your address books to name the people you "
                       "message. One that cannot be read is skipped."),
        ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
        QStringLiteral("settingsContactsHint"), this));
    layout->addLayout(contactsGroup);

    // One switch per chat: on, the chat is copied; off, it is left out.
    auto* chatsGroup = new QVBoxLayout;
    chatsGroup->setSpacing(8);
    QLabel* chatsHeading =
        ViewStyle::label(QStringLiteral("Chats"), ViewStyle::TextStyle::subheadline,
                         ViewStyle::Tint::primary, QStringLiteral("settingsChatsHeading"), this);
    chatsGroup->addWidget(chatsHeading);
    chatsList_ = new QListWidget(this);
    chatsList_->setObjectName(QStringLiteral("settingsChatsList"));
    chatsList_->setAccessibleName(QStringLiteral("Chats copied"));
    chatsHeading->setBuddy(chatsList_);
    chatsList_->setFixedHeight(chatsList_->fontMetrics().height() * kChatRows +
                               2 * chatsList_->frameWidth() + 10);
    chatsList_->setTextElideMode(Qt::ElideRight);
    chatsGroup->addWidget(chatsList_);
    chatsGroup->addWidget(ViewStyle::label(
        QStringLiteral("A chat switched off is left out: never copied, searched or shown to "
                       "the model, and removed from the copy at the next sync."),
        ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
        QStringLiteral("settingsChatsHint"), this));
    layout->addLayout(chatsGroup);

    errorLabel_ = ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::red,
                                   QStringLiteral("settingsErrorLabel"), this);
    layout->addWidget(errorLabel_);
    savedLabel_ =
        ViewStyle::label(QStringLiteral("Saved!"), ViewStyle::TextStyle::caption,
                         ViewStyle::Tint::green, QStringLiteral("settingsSavedLabel"), this);
    layout->addWidget(savedLabel_);

    auto* buttonRow = new QHBoxLayout;
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("settingsCancelButton"));
    saveButton_ = new QPushButton(QStringLiteral("Save"), this);
    saveButton_->setObjectName(QStringLiteral("settingsSaveButton"));
    ViewStyle::makeProminent(saveButton_);
    // A dialog presses its default button on return; here return in the
    // field must do nothing.
    for (QPushButton* button :
         {cancelButton, saveButton_, addContactsButton, removeContactsButton_}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    buttonRow->addWidget(cancelButton);
    buttonRow->addStretch(1);
    buttonRow->addWidget(saveButton_);
    layout->addLayout(buttonRow);

    connect(keyField_, &QLineEdit::textChanged, &model_, &SettingsViewModel::setApiKey);
    connect(addressField_, &QLineEdit::textChanged, &model_, &SettingsViewModel::setAddress);
    connect(modelField_, &QLineEdit::textChanged, &model_, &SettingsViewModel::setModelName);
    connect(addContactsButton, &QPushButton::clicked, this, &SettingsView::addContactFiles);
    connect(removeContactsButton_, &QPushButton::clicked, this,
            [this] { model_.removeContactFile(contactsList_->currentRow()); });
    connect(contactsList_, &QListWidget::currentRowChanged, this, [this] { updateWidgets(); });
    connect(chatsList_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        model_.setChatExcluded(item->data(Qt::UserRole).toString().toStdString(),
                               item->checkState() != Qt::Checked);
    });
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(saveButton_, &QPushButton::clicked, this, &SettingsView::saveSettings);
    connect(&model_, &SettingsViewModel::changed, this, &SettingsView::updateWidgets);
    updateWidgets();
}

void SettingsView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        model_.load();
    }
}

void SettingsView::addContactFiles() {
    model_.addContactFiles(chooseFiles_(this));
}

void SettingsView::saveSettings() {
    if (model_.save()) {
        QTimer::singleShot(kCloseDelayMilliseconds, this, &QDialog::accept);
    }
}

void SettingsView::updateChatList() {
    const std::vector<ListedChat>& chats = model_.chats();
    const QSignalBlocker blocker(chatsList_);
    // While the chats are read, or when they cannot be, one line says so.
    using State = SettingsViewModel::ChatListState;
    const State state = model_.chatListState();
    if (state == State::loading || state == State::failed) {
        const QString text =
            state == State::loading
                ? QStringLiteral("Loading chats…")
                : QStringLiteral("The chats cannot be listed: ") + model_.chatListProblem();
        chatsList_->clear();
        auto* line = new QListWidgetItem(text, chatsList_);
        line->setFlags(Qt::ItemIsEnabled);
        line->setToolTip(text);
        line->setForeground(ViewStyle::colour(state == State::loading ? ViewStyle::Tint::secondary
                                                                      : ViewStyle::Tint::red));
        return;
    }
    if (chatsList_->count() > 0 && !chatsList_->item(0)->data(Qt::UserRole).isValid()) {
        chatsList_->clear();
    }
    while (chatsList_->count() > static_cast<int>(chats.size())) {
        delete chatsList_->takeItem(chatsList_->count() - 1);
    }
    while (chatsList_->count() < static_cast<int>(chats.size())) {
        auto* item = new QListWidgetItem(chatsList_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    }
    for (int row = 0; row < chatsList_->count(); ++row) {
        const ListedChat& chat = chats[static_cast<size_t>(row)];
        QListWidgetItem* item = chatsList_->item(row);
        const QString id = QString::fromStdString(chat.chatId);
        item->setData(Qt::UserRole, id);
        item->setToolTip(id);
        item->setText(chatLabel(chat));
        item->setCheckState(chat.excluded ? Qt::Unchecked : Qt::Checked);
    }
}

void SettingsView::updateWidgets() {
    // The fields follow the model; setText() would move the cursor of the
    // field being typed in, so only differing text is set.
    for (const auto& [field, text] :
         {std::pair{keyField_, model_.apiKey()}, std::pair{addressField_, model_.address()},
          std::pair{modelField_, model_.modelName()}}) {
        if (field->text() != text) {
            field->setText(text);
        }
    }
    const std::vector<std::string>& files = model_.contactFiles();
    bool listChanged = contactsList_->count() != static_cast<int>(files.size());
    for (int row = 0; !listChanged && row < contactsList_->count(); ++row) {
        listChanged = contactsList_->item(row)->data(Qt::UserRole).toString().toStdString() !=
                      files[static_cast<size_t>(row)];
    }
    if (listChanged) {
        const QSignalBlocker blocker(contactsList_);
        contactsList_->clear();
        for (const std::string& file : files) {
            const QString path = QString::fromStdString(file);
            auto* item = new QListWidgetItem(path, contactsList_);
            item->setData(Qt::UserRole, path);
            item->setToolTip(path);
            const QFileInfo info(path);
            if (!info.isFile() || !info.isReadable()) {
                item->setText(path + QStringLiteral(" (cannot be read)"));
                item->setForeground(ViewStyle::colour(ViewStyle::Tint::red));
            }
        }
    }
    updateChatList();
    const QString problem = model_.addressProblem();
    addressProblemLabel_->setText(problem);
    addressProblemLabel_->setVisible(!problem.isEmpty());
    errorLabel_->setText(model_.errorMessage());
    errorLabel_->setVisible(!model_.errorMessage().isEmpty());
    savedLabel_->setVisible(model_.isSaved());
    saveButton_->setEnabled(model_.canSave());
    removeContactsButton_->setEnabled(contactsList_->currentRow() >= 0);
    // The width is fixed; the height follows the lines shown, wrapped.
    if (isWindow()) {
        adjustSize();
    }
}

} // namespace orlune::rlm
