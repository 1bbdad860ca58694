#pragma once
// The key setup screen: asks for the API key of the model server configured
// and saves it, or goes on without one.

#include "models/KeySetupViewModel.hpp"
#include "services/ConfigManager.hpp"

#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace orlune::rlm {

// GUI thread only. Binds its field and buttons to a KeySetupViewModel on
// `config`, which must outlive the view; its state starts afresh with each
// instance. Return in the key field saves, as "Save" does. The gateway's
// sign-up link is shown only when the key asked for is the gateway's.
class APIKeySetupView : public QWidget {
    Q_OBJECT

public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    // `openUrl` is called with the gateway's sign-up address when its link
    // is activated.
    APIKeySetupView(ConfigManager& config, UrlOpener openUrl, QWidget* parent = nullptr);

    bool isComplete() const { return model_.isComplete(); }

signals:
    // A key has been saved; the menu moves on.
    void completed();
    // "Continue without a key" was pressed (and remembered for the server).
    void continueWithoutKeyRequested();

private:
    void updateWidgets();

    KeySetupViewModel model_;
    QLineEdit* keyField_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QPushButton* saveButton_ = nullptr;
};

} // namespace orlune::rlm
