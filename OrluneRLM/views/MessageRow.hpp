#pragma once
// One chat bubble in the conversation list, with an answer's cited messages
// and its "Copy" button.

// moc cannot parse the standard headers ChatMessage.hpp pulls in, and needs
// nothing from it.
#ifndef Q_MOC_RUN
#include "sessions/ChatMessage.hpp"
#endif

#include <QColor>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

namespace orlune::rlm {

// GUI thread only. A user's message sits at the trailing edge on a bubble
// tinted with the accent colour; every other message at the leading edge on
// a grey bubble. Neither the time nor the role is shown.
//
// A text longer than kTrimmedLength characters shows its beginning and a
// "Show more" button that shows the rest (laying out a very long text takes
// seconds; a trimmed one does not). An answer has a "Copy" button (the whole
// text to the clipboard; it says "Copied" for a moment) and, under it, the
// messages it relies on under their heading: name, chat and time, and their
// text trimmed to kCitationLength characters.
class MessageRow : public QWidget {
    Q_OBJECT

public:
    // Characters of a message shown before "Show more".
    static constexpr int kTrimmedLength = 1500;
    // Characters of a cited message's text shown.
    static constexpr int kCitationLength = 240;
    // How long "Copy" says "Copied" after a click.
    static constexpr int kCopiedNoticeMs = 2000;
    // `hideNoModelNotice`: leave out the first paragraph of an answer from
    // the index, which says why no model was used (the conversation already
    // showed it).
    explicit MessageRow(const ChatMessage& message, bool hideNoModelNotice = false,
                        QWidget* parent = nullptr);

    const ChatMessage& message() const { return message_; }
    // The text shown in the bubble now.
    QString shownText() const;
    bool isTrimmed() const { return trimmed_; }
    // Shows the whole text (what "Show more" does).
    void showMore();
    // The colour the bubble is filled with (translucent).
    QColor bubbleColour() const;
    // The bubble's area in this row's coordinates.
    QRect bubbleGeometry() const;

    // Whether the messages `message` relies on are listed under its bubble:
    // when it has them and is not an answer from the index, whose text is
    // that list already.
    static bool showsCitations(const ChatMessage& message);
    // The text a bubble shows for `text`: the first paragraph left out when
    // `hideNoModelNotice`; the list under kCitedMessagesHeading left out when
    // `citationsShown`, since the bubble lists those messages itself.
    static QString displayText(const std::string& text, bool hideNoModelNotice,
                               bool citationsShown = false);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ChatMessage message_;
    QString fullText_;
    bool trimmed_ = false;
    QWidget* bubbleBox_ = nullptr;
    QLabel* bubble_ = nullptr;
    QPushButton* showMoreButton_ = nullptr;
};

} // namespace orlune::rlm
