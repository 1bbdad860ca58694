#include "OrluneRLM/views/SettingsView.hpp"

#include "OrluneCore/Gateway.hpp"
#include "OrluneRLM/TextTrimming.hpp"
#include "OrluneRLM/views/ViewStyle.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>

namespace orlune::rlm {

SettingsView::SettingsView(ConfigManager& config, UrlOpener openUrl, QWidget* parent)
    : QDialog(parent), config_(config) {
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
    for (QPushButton* button : {cancelButton, saveButton_}) {
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
    // Something to ask: a key, or a server of the person's own.
    saveButton_->setEnabled(!trimmedText(apiKey_.toStdString()).empty() ||
                            !trimmedText(addressField_->text().toStdString()).empty());
    // The width is fixed; the height follows the lines shown, wrapped.
    if (isWindow()) {
        adjustSize();
    }
}

} // namespace orlune::rlm
