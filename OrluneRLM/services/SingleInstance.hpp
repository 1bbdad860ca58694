#pragma once
// One running copy of the application per data folder: a lock file says who
// runs, a local socket lets a second start bring that copy forward.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

namespace orlune::rlm {

// GUI thread only. The copy that takes the lock at `lockPath` is the
// primary: it listens on a local socket named after the lock's path and
// emits activationRequested() whenever another start connects. Any other
// copy is secondary: it should call bringPrimaryForward() and end, so that
// only one copy ever writes the sessions file. A lock left by a copy that
// died is taken over. Nothing here throws.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& lockPath, QObject* parent = nullptr);
    ~SingleInstance() override;

    bool isPrimary() const { return server_ != nullptr; }

    // In a secondary copy: asks the primary to show its window. Returns
    // whether the request was delivered within `timeoutMs`.
    bool bringPrimaryForward(int timeoutMs = 2000) const;

    // <data folder>/Orlune/OrluneRLM.lock; empty when there is no data folder.
    static QString defaultLockPath();
    // The local socket's name for a lock path (short, so that it fits any
    // platform's socket path limit).
    static QString serverName(const QString& lockPath);

signals:
    // Another start asked this (primary) copy to come forward.
    void activationRequested();

private:
    QString name_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

} // namespace orlune::rlm
