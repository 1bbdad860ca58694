#include "views/APIKeySetupView.hpp"

#include "services/TextTrimming.hpp"
#include "views/ViewStyle.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>

namespace orlune::rlm {

APIKeySetupView::APIKeySetupView(ConfigManager& config, UrlOpener openUrl, QWidget* parent)
    : QWidget(parent), config_(config) {
    setObjectName(QStringLiteral("setupScreen"));
    setMinimumWidth(300);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(ViewStyle::kDefaultInset, ViewStyle::kDefaultInset,
                               ViewStyle::kDefaultInset, ViewStyle::kDefaultInset);
    layout->setSpacing(16);

    layout->addWidget(ViewStyle::label(QStringLiteral("Setup Required"),
                                       ViewStyle::TextStyle::headline, ViewStyle::Tint::primary,
                                       QStringLiteral("setupTitle"), this));
    layout->addWidget(ViewStyle::label(
        QStringLiteral("Enter your Veyrlink API key for written answers from a language model. "
                       "Without one, Orlune answers from your indexed messages alone."),
        ViewStyle::TextStyle::body, ViewStyle::Tint::secondary, QStringLiteral("setupPrompt"),
        this));
    layout->addWidget(ViewStyle::gatewayLinkRow(openUrl, this));

    keyField_ = new QLineEdit(this);
    keyField_->setObjectName(QStringLiteral("apiKeyField"));
    keyField_->setPlaceholderText(QStringLiteral("API Key"));
    keyField_->setEchoMode(QLineEdit::Password);
    layout->addWidget(keyField_);

    errorLabel_ = ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::red,
                                   QStringLiteral("setupErrorLabel"), this);
    errorLabel_->hide();
    layout->addWidget(errorLabel_);

    auto* buttonRow = new QHBoxLayout;
    auto* withoutKey = new QPushButton(QStringLiteral("Continue without a key"), this);
    withoutKey->setObjectName(QStringLiteral("continueWithoutKeyButton"));
    buttonRow->addWidget(withoutKey);
    buttonRow->addStretch(1);
    saveButton_ = new QPushButton(QStringLiteral("Save"), this);
    saveButton_->setObjectName(QStringLiteral("setupSaveButton"));
    ViewStyle::makeProminent(saveButton_);
    buttonRow->addWidget(saveButton_);
    layout->addLayout(buttonRow);

    connect(keyField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        apiKey_ = text;
        updateWidgets();
    });
    connect(saveButton_, &QPushButton::clicked, this, &APIKeySetupView::saveApiKey);
    connect(keyField_, &QLineEdit::returnPressed, this, [this] {
        if (saveButton_->isEnabled()) {
            saveApiKey();
        }
    });
    connect(withoutKey, &QPushButton::clicked, this, &APIKeySetupView::continueWithoutKeyRequested);
    updateWidgets();
}

void APIKeySetupView::saveApiKey() {
    const std::string key = trimmedText(apiKey_.toStdString());
    if (key.empty()) {
        errorMessage_ = QStringLiteral("API key cannot be empty");
        updateWidgets();
        return;
    }
    isSaving_ = true;
    errorMessage_.clear();
    updateWidgets();
    try {
        AppConfig configuration = config_.load();
        configuration.veyrlinkApiKey = key;
        config_.save(configuration);
    } catch (const std::exception& error) {
        errorMessage_ = QStringLiteral("Failed to save: ") + QString::fromUtf8(error.what());
        isSaving_ = false;
        updateWidgets();
        return;
    }
    isComplete_ = true;
    updateWidgets();
    emit completed();
}

void APIKeySetupView::updateWidgets() {
    errorLabel_->setText(errorMessage_);
    errorLabel_->setVisible(!errorMessage_.isEmpty());
    saveButton_->setEnabled(!trimmedText(apiKey_.toStdString()).empty() && !isSaving_);
}

} // namespace orlune::rlm
