#pragma once
// One chat bubble in the conversation list.

// moc cannot parse the standard headers ChatMessage.hpp pulls in, and needs
// nothing from it.
#ifndef Q_MOC_RUN
#include "OrluneRLM/ChatMessage.hpp"
#endif

#include <QColor>
#include <QWidget>

class QLabel;

namespace orlune::rlm {

// GUI thread only. A user's message sits at the trailing edge on a bubble
// tinted with the accent colour; every other message at the leading edge on
// a grey bubble. Neither the time nor the role is shown.
class MessageRow : public QWidget {
    Q_OBJECT

public:
    explicit MessageRow(const ChatMessage& message, QWidget* parent = nullptr);

    const ChatMessage& message() const { return message_; }
    // The colour the bubble is filled with (translucent).
    QColor bubbleColour() const;
    // The bubble's area in this row's coordinates.
    QRect bubbleGeometry() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ChatMessage message_;
    QLabel* bubble_ = nullptr;
};

} // namespace orlune::rlm
