#pragma once
// The state behind the key setup screen: the key being entered, saving it,
// and remembering a choice to go on without one.

#include "services/ConfigManager.hpp"

#include <QObject>
#include <QString>

namespace orlune::rlm {

// GUI thread only. Saves through `config`, which must outlive the model.
// changed() follows every change of what the getters return. Once a key has
// been saved, isComplete() is true, completed() has been emitted once and
// canSave() stays false for the rest of the model's life.
class KeySetupViewModel : public QObject {
    Q_OBJECT

public:
    // Reads the configured model server's address once.
    explicit KeySetupViewModel(ConfigManager& config, QObject* parent = nullptr);

    const QString& apiKey() const { return apiKey_; }
    void setApiKey(const QString& text);
    const QString& errorMessage() const { return errorMessage_; }
    bool isComplete() const { return isComplete_; }
    bool canSave() const;

    // The configured server's address, trimmed; empty for the gateway.
    const QString& serverAddress() const { return serverAddress_; }
    // Whether the key asked for is a Veyrlink gateway key (no server of the
    // person's own, or the gateway's own address).
    bool asksForGatewayKey() const;
    // What the screen asks, worded for the configured server.
    QString promptText() const;

    // Saves the key, trimmed ("API key cannot be empty" when blank; "Failed
    // to save: " and why when the file cannot be written).
    void save();
    // Remembers that the person goes on without a key for this server's
    // address (AppConfig::serverWithoutKey), so that the screen is not shown
    // again for it; a failure to save is logged by the manager and this run
    // goes on all the same. Emits continuedWithoutKey().
    void continueWithoutKey();

signals:
    void changed();
    void completed();
    void continuedWithoutKey();

private:
    ConfigManager& config_;
    QString serverAddress_;
    QString apiKey_;
    QString errorMessage_;
    bool isSaving_ = false;
    bool isComplete_ = false;
};

} // namespace orlune::rlm
