#pragma once
// The first-run screen: asks for the Veyrlink API key and saves it.

#include "services/ConfigManager.hpp"

#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace orlune::rlm {

// GUI thread only. Saves through `config`, which must outlive the view.
// Its state starts afresh with each instance: empty field, no message, not
// saving. Return in the key field saves, as "Save" does. Once a key has been saved, isComplete() is
// true, completed() has been emitted once, and "Save" stays disabled for the rest of its life.
class APIKeySetupView : public QWidget {
    Q_OBJECT

public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    // `openUrl` is called with the gateway's sign-up address when its link
    // is activated.
    APIKeySetupView(ConfigManager& config, UrlOpener openUrl, QWidget* parent = nullptr);

    bool isComplete() const { return isComplete_; }

signals:
    // A key has been saved; the menu moves on.
    void completed();
    // "Continue without a key" was pressed.
    void continueWithoutKeyRequested();

private:
    void saveApiKey();
    void updateWidgets();

    ConfigManager& config_;
    QString apiKey_;
    QString errorMessage_;
    bool isSaving_ = false;
    bool isComplete_ = false;

    QLineEdit* keyField_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QPushButton* saveButton_ = nullptr;
};

} // namespace orlune::rlm
