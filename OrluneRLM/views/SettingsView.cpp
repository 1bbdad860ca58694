#include "views/SettingsView.hpp"

#include "base/Gateway.hpp"
#include "services/TextTrimming.hpp"
#include "views/ViewStyle.hpp"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

namespace orlune::rlm {

namespace {

// Rows of the contact file list shown without scrolling.
constexpr int kContactRows = 3;

} // namespace

SettingsView::SettingsView(ConfigManager& config, UrlOpener openUrl, QWidget* parent)
    : QDialog(parent), config_(config), chooseFiles_([](QWidget* owner) {
          return QFileDialog::getOpenFileNames(owner, QStringLiteral("Add Contact Files"),
                                               QString(),
                                               QStringLiteral("vCard files (*.vcf *.vcard)"));
      }) {
    setObjectName(QStringLiteral("settingsSheet"));
    setWindowTitle(QStringLiteral("Settings"));
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
    keyGroup->setSpacing(8);
    keyGroup->addWidget(
        ViewStyle::label(QStringLiteral("Veyrlink API Key"), ViewStyle::TextStyle::subheadline,
                         ViewStyle::Tint::primary, QStringLiteral("settingsKeyHeading"), this));
    keyField_ = new QLineEdit(this);
    keyField_->setObjectName(QStringLiteral("settingsApiKeyField"));
    keyField_->setPlaceholderText(QStringLiteral("API Key"));
    keyField_->setEchoMode(QLineEdit::Password);
    keyGroup->addWidget(keyField_);
    keyGroup->addWidget(ViewStyle::gatewayLinkRow(openUrl, this));
    layout->addLayout(keyGroup);

    // Any server speaking the chat-completions protocol; one on this Mac
    // (llama.cpp, Ollama, LM Studio) needs no key.
    auto* serverGroup = new QVBoxLayout;
    serverGroup->setSpacing(8);
    serverGroup->addWidget(
        ViewStyle::label(QStringLiteral("Model Server"), ViewStyle::TextStyle::subheadline,
                         ViewStyle::Tint::primary, QStringLiteral("settingsServerHeading"), this));
    addressField_ = new QLineEdit(this);
    addressField_->setObjectName(QStringLiteral("settingsAddressField"));
    addressField_->setPlaceholderText(QString::fromLatin1(core::gateway::kDefaultAPIBaseURL));
    serverGroup->addWidget(addressField_);
    modelField_ = new QLineEdit(this);
    modelField_->setObjectName(QStringLiteral("settingsModelField"));
    modelField_->setPlaceholderText(QString::fromLatin1(core::gateway::kDefaultModel));
    serverGroup->addWidget(modelField_);
    serverGroup->addWidget(ViewStyle::label(
        QStringLiteral("Leave empty for Veyrlink. A server on this computer needs no API key."),
        ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
        QStringLiteral("settingsServerHint"), this));
    layout->addLayout(serverGroup);

    auto* contactsGroup = new QVBoxLayout;
    contactsGroup->setSpacing(8);
    contactsGroup->addWidget(ViewStyle::label(
        QStringLiteral("Contact Files"), ViewStyle::TextStyle::subheadline,
        ViewStyle::Tint::primary, QStringLiteral("settingsContactsHeading"), this));
    contactsList_ = new QListWidget(this);
    contactsList_->setObjectName(QStringLiteral("settingsContactsList"));
    contactsList_->setFixedHeight(contactsList_->fontMetrics().height() * kContactRows +
                                  2 * contactsList_->frameWidth() + 6);
    contactsList_->setTextElideMode(Qt::ElideMiddle);
    contactsGroup->addWidget(contactsList_);
    auto* contactsButtons = new QHBoxLayout;
    auto* addContactsButton = new QPushButton(QStringLiteral("Add…"), this);
    addContactsButton->setObjectName(QStringLiteral("settingsAddContactsButton"));
    removeContactsButton_ = new QPushButton(QStringLiteral("Remove"), this);
    removeContactsButton_->setObjectName(QStringLiteral("settingsRemoveContactsButton"));
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

    connect(keyField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        apiKey_ = text;
        updateWidgets();
    });
    for (QLineEdit* field : {addressField_, modelField_}) {
        connect(field, &QLineEdit::textChanged, this, [this] { updateWidgets(); });
    }
    connect(addContactsButton, &QPushButton::clicked, this, &SettingsView::addContactFiles);
    connect(removeContactsButton_, &QPushButton::clicked, this, &SettingsView::removeContactFile);
    connect(contactsList_, &QListWidget::currentRowChanged, this, [this] { updateWidgets(); });
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(saveButton_, &QPushButton::clicked, this, &SettingsView::saveApiKey);
    updateWidgets();
}

void SettingsView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    const AppConfig configuration = config_.load();
    keyField_->setText(
        QString::fromStdString(configuration.veyrlinkApiKey.value_or(std::string())));
    addressField_->setText(
        QString::fromStdString(configuration.modelServerAddress.value_or(std::string())));
    modelField_->setText(QString::fromStdString(configuration.modelName.value_or(std::string())));
    loadedContactFiles_ = configuration.contactsFiles;
    contactsList_->clear();
    for (const std::string& path : loadedContactFiles_) {
        listContactFile(QString::fromStdString(path));
    }
    updateWidgets();
}

std::vector<std::string> SettingsView::contactFiles() const {
    std::vector<std::string> files;
    for (int row = 0; row < contactsList_->count(); ++row) {
        files.push_back(contactsList_->item(row)->data(Qt::UserRole).toString().toStdString());
    }
    return files;
}

void SettingsView::listContactFile(const QString& path) {
    auto* item = new QListWidgetItem(path, contactsList_);
    item->setData(Qt::UserRole, path);
    item->setToolTip(path);
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable()) {
        item->setText(path + QStringLiteral(" (cannot be read)"));
        item->setForeground(ViewStyle::colour(ViewStyle::Tint::red));
    }
}

void SettingsView::addContactFiles() {
    const std::vector<std::string> listed = contactFiles();
    for (const QString& path : chooseFiles_(this)) {
        if (path.isEmpty() ||
            std::find(listed.begin(), listed.end(), path.toStdString()) != listed.end()) {
            continue;
        }
        listContactFile(path);
    }
    updateWidgets();
}

void SettingsView::removeContactFile() {
    delete contactsList_->takeItem(contactsList_->currentRow());
    updateWidgets();
}

void SettingsView::saveApiKey() {
    errorMessage_.clear();
    isSaved_ = false;
    updateWidgets();
    try {
        AppConfig configuration = config_.load();
        // A blank field removes its setting.
        auto entered = [](const QString& text) -> std::optional<std::string> {
            std::string value = trimmedText(text.toStdString());
            return value.empty() ? std::nullopt : std::optional<std::string>(value);
        };
        configuration.veyrlinkApiKey = entered(apiKey_);
        configuration.modelServerAddress = entered(addressField_->text());
        configuration.modelName = entered(modelField_->text());
        configuration.contactsFiles = contactFiles();
        config_.save(configuration);
    } catch (const std::exception& error) {
        errorMessage_ = QStringLiteral("Failed to save: ") + QString::fromUtf8(error.what());
        updateWidgets();
        return;
    }
    isSaved_ = true;
    updateWidgets();
    QTimer::singleShot(kCloseDelayMilliseconds, this, &QDialog::accept);
}

void SettingsView::updateWidgets() {
    errorLabel_->setText(errorMessage_);
    errorLabel_->setVisible(!errorMessage_.isEmpty());
    savedLabel_->setVisible(isSaved_);
    // Something to ask: a key, or a server of the person's own; or contact
    // files to read whatever answers.
    saveButton_->setEnabled(!trimmedText(apiKey_.toStdString()).empty() ||
                            !trimmedText(addressField_->text().toStdString()).empty() ||
                            contactFiles() != loadedContactFiles_);
    removeContactsButton_->setEnabled(contactsList_->currentRow() >= 0);
    // The width is fixed; the height follows the lines shown, wrapped.
    if (isWindow()) {
        adjustSize();
    }
}

} // namespace orlune::rlm
