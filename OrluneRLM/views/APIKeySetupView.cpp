#include "views/APIKeySetupView.hpp"

#include "views/ViewStyle.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace orlune::rlm {

APIKeySetupView::APIKeySetupView(ConfigManager& config, UrlOpener openUrl, QWidget* parent)
    : QWidget(parent), model_(config) {
    setObjectName(QStringLiteral("setupScreen"));
    setMinimumWidth(300);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(ViewStyle::kDefaultInset, ViewStyle::kDefaultInset,
                               ViewStyle::kDefaultInset, ViewStyle::kDefaultInset);
    layout->setSpacing(16);

    layout->addWidget(ViewStyle::label(QStringLiteral("Setup Required"),
                                       ViewStyle::TextStyle::headline, ViewStyle::Tint::primary,
                                       QStringLiteral("setupTitle"), this));
    layout->addWidget(ViewStyle::label(model_.promptText(), ViewStyle::TextStyle::body,
                                       ViewStyle::Tint::secondary, QStringLiteral("setupPrompt"),
                                       this));
    if (model_.asksForGatewayKey()) {
        layout->addWidget(ViewStyle::gatewayLinkRow(openUrl, this));
    }

    QLabel* keyLabel =
        ViewStyle::label(QStringLiteral("API key"), ViewStyle::TextStyle::body,
                         ViewStyle::Tint::primary, QStringLiteral("apiKeyFieldLabel"), this);
    layout->addWidget(keyLabel);
    keyField_ = new QLineEdit(this);
    keyField_->setObjectName(QStringLiteral("apiKeyField"));
    keyField_->setAccessibleName(QStringLiteral("API key"));
    keyField_->setPlaceholderText(QStringLiteral("API Key"));
    keyField_->setEchoMode(QLineEdit::Password);
    keyLabel->setBuddy(keyField_);
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
    saveButton_->setAccessibleName(QStringLiteral("Save the API key"));
    ViewStyle::makeProminent(saveButton_);
    buttonRow->addWidget(saveButton_);
    layout->addLayout(buttonRow);

    connect(keyField_, &QLineEdit::textChanged, &model_, &KeySetupViewModel::setApiKey);
    connect(saveButton_, &QPushButton::clicked, &model_, &KeySetupViewModel::save);
    connect(keyField_, &QLineEdit::returnPressed, this, [this] {
        if (model_.canSave()) {
            model_.save();
        }
    });
    connect(withoutKey, &QPushButton::clicked, &model_, &KeySetupViewModel::continueWithoutKey);
    connect(&model_, &KeySetupViewModel::changed, this, &APIKeySetupView::updateWidgets);
    connect(&model_, &KeySetupViewModel::completed, this, &APIKeySetupView::completed);
    connect(&model_, &KeySetupViewModel::continuedWithoutKey, this,
            &APIKeySetupView::continueWithoutKeyRequested);
    updateWidgets();
}

void APIKeySetupView::updateWidgets() {
    errorLabel_->setText(model_.errorMessage());
    errorLabel_->setVisible(!model_.errorMessage().isEmpty());
    saveButton_->setEnabled(model_.canSave());
}

} // namespace orlune::rlm
