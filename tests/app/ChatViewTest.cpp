// The chat panel: when "Send" and Return send, the question box, where
// bubbles sit, the working state and Cancel, the error line, the
// conversation's scrolling, long messages, answers' cited messages and copy,
// and the list of earlier conversations.

#include "views/ChatView.hpp"

#include "tests/app/AppTestSupport.hpp"
#include "tests/support/ProcessRun.hpp"
#include "views/MessageRow.hpp"
#include "views/ViewStyle.hpp"

#include <QClipboard>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace orlune::testing {
namespace {

using rlm::ChatView;

class ChatViewTest : public AppTest {
protected:
    // A chat view whose helper runs get a shadow database file (the fake
    // helpers never read it).
    std::unique_ptr<ChatView> makeView(bool isReady) {
        writeFile(shadowPath(), "");
        auto view =
            std::make_unique<ChatView>(QString::fromStdString(shadowPath()), isReady,
                                       [this](const QString& path) { return makeChatModel(path); });
        view->resize(360, view->sizeHint().height());
        view->show();
        return view;
    }
    std::string shadowPath() const { return folder_.file("shadow.db"); }

    static QPlainTextEdit* field(ChatView& view) {
        return child<QPlainTextEdit>(&view, "questionField");
    }
    static QString fieldText(ChatView& view) { return field(view)->toPlainText(); }
    static QPushButton* sendButton(ChatView& view) {
        return child<QPushButton>(&view, "sendButton");
    }
    static QPushButton* newSessionButton(ChatView& view) {
        return child<QPushButton>(&view, "newSessionButton");
    }

    static void type(ChatView& view, const QString& text) {
        field(view)->clear();
        QTest::keyClicks(field(view), text);
    }
    static bool answered(ChatView& view, size_t rows) {
        return waitUntil([&] { return view.rows().size() == rows && !view.model().isSending(); });
    }
};

TEST_F(ChatViewTest, SendIsEnabledWithAQuestionWhenIdleReadyOrNot) {
    installAnsweringHelper("ok");
    auto view = makeView(false);
    EXPECT_EQ(child<QLabel>(view.get(), "chatHeading")->text(), "Chat");
    EXPECT_EQ(child<QLabel>(view.get(), "sessionTitleLabel")->text(), "New conversation");
    EXPECT_TRUE(field(*view)->placeholderText().startsWith("Ask about your messages"));

    struct Case {
        bool ready;
        QString text;
        bool sendEnabled;
    };
    const Case cases[] = {
        {false, "", false},
        {false, "What did Sam say?", true}, // held until the first messages are indexed
        {true, "", false},
        {true, "   \t  ", false}, // blank
        {true, "What did Sam say?", true},
        {true, "  padded  ", true},
    };
    for (const Case& item : cases) {
        view->setReady(item.ready);
        type(*view, item.text);
        EXPECT_EQ(sendButton(*view)->isEnabled(), item.sendEnabled)
            << item.ready << " '" << item.text.toStdString() << "'";
    }
}

TEST_F(ChatViewTest, ReturnFollowsTheSendRuleAndShiftReturnStartsALine) {
    installAnsweringHelper("Sam said hello.");
    auto view = makeView(false);
    // Before the index holds messages the question is held, and sent once
    // it does; Cancel drops the wait.
    type(*view, "What did Sam say?");
    QTest::keyClick(field(*view), Qt::Key_Return);
    EXPECT_TRUE(fieldText(*view).isEmpty()) << "taken, and Return adds no line";
    ASSERT_EQ(view->rows().size(), 1u);
    EXPECT_TRUE(view->model().isWaitingForIndex());
    EXPECT_TRUE(showsChild(view.get(), "workingRow"));
    QTest::qWait(100);
    EXPECT_EQ(view->rows().size(), 1u) << "nothing is asked before the index can answer";
    QTest::mouseClick(child<QPushButton>(view.get(), "cancelButton"), Qt::LeftButton);
    EXPECT_FALSE(view->model().isSending());
    EXPECT_EQ(child<QLabel>(view.get(), "chatErrorLabel")->text(), "Cancelled.");
    view->setReady(true);
    QTest::qWait(100);
    EXPECT_EQ(view->rows().size(), 1u) << "a cancelled question stays unasked";

    view->setReady(false);
    type(*view, "Still there?");
    QTest::keyClick(field(*view), Qt::Key_Return);
    view->setReady(true);
    ASSERT_TRUE(answered(*view, 3));
    EXPECT_EQ(view->rows()[2]->message().text, "Sam said hello.");
    view->model().startNewSession(true);

    type(*view, "  What did");
    QTest::keyClick(field(*view), Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(field(*view), "Sam say? ");
    EXPECT_EQ(fieldText(*view), "  What did\nSam say? ");
    EXPECT_TRUE(view->rows().empty()) << "Shift+Return does not send";
    QTest::keyClick(field(*view), Qt::Key_Enter); // the keypad's Enter too
    EXPECT_TRUE(fieldText(*view).isEmpty()) << "the model took the question";
    ASSERT_TRUE(answered(*view, 2));
    EXPECT_EQ(view->rows()[0]->message().text, "What did\nSam say?");
    EXPECT_EQ(view->rows()[1]->message().text, "Sam said hello.");

    // Return with a blank field does nothing.
    type(*view, "   ");
    QTest::keyClick(field(*view), Qt::Key_Return);
    EXPECT_EQ(view->rows().size(), 2u);
    EXPECT_EQ(fieldText(*view), "   ");
}

TEST_F(ChatViewTest, UserBubblesSitTrailingOnTheAccentOthersLeadingOnGrey) {
    installAnsweringHelper("Yes.");
    auto view = makeView(true);
    type(*view, "Hi?");
    QTest::mouseClick(sendButton(*view), Qt::LeftButton);
    ASSERT_TRUE(answered(*view, 2));
    QApplication::processEvents();

    const QColor window = view->palette().color(QPalette::Window);
    struct Case {
        size_t row;
        bool trailing;
        QColor tint;
        qreal opacity;
    };
    const Case cases[] = {
        {0, true, rlm::ViewStyle::accent(), 0.15},
        {1, false, QColor(Qt::gray), 0.2},
    };
    for (const Case& item : cases) {
        rlm::MessageRow* row = view->rows()[item.row];
        const QRect bubble = row->bubbleGeometry();
        if (item.trailing) {
            EXPECT_EQ(bubble.right(), row->width() - 1);
            EXPECT_GT(bubble.left(), row->width() / 2);
        } else {
            EXPECT_EQ(bubble.left(), 0);
            EXPECT_LT(bubble.right(), row->width() / 2);
        }
        // A pixel in the bubble's padding: the tint laid over the window.
        const QColor pixel =
            row->grab().toImage().pixelColor(bubble.left() + 4, bubble.center().y());
        const auto expected = [&](qreal over, qreal under) {
            return over * item.opacity + under * (1 - item.opacity);
        };
        EXPECT_NEAR(pixel.redF(), expected(item.tint.redF(), window.redF()), 0.02) << item.row;
        EXPECT_NEAR(pixel.greenF(), expected(item.tint.greenF(), window.greenF()), 0.02)
            << item.row;
        EXPECT_NEAR(pixel.blueF(), expected(item.tint.blueF(), window.blueF()), 0.02) << item.row;
    }
}

TEST_F(ChatViewTest, FailedHelperShowsItsErrorInRedAndKeepsTheQuestion) {
    installHelper("echo 'the gateway refused the key' >&2\nexit 3\n");
    auto view = makeView(true);
    auto* error = child<QLabel>(view.get(), "chatErrorLabel");
    EXPECT_FALSE(error->isVisible()) << "no error line without an error";

    type(*view, "Anything new?");
    QTest::mouseClick(sendButton(*view), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !view->model().isSending(); }));
    EXPECT_EQ(view->rows().size(), 1u);
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), view->model().lastError());
    EXPECT_TRUE(error->text().contains("the gateway refused the key"))
        << error->text().toStdString();
    EXPECT_EQ(textColour(error), rlm::ViewStyle::colour(rlm::ViewStyle::Tint::red));
    saveScreenshot(view.get(), "chat-error");
}

TEST_F(ChatViewTest, WhileAnsweringSendAndNewSessionWaitButTheFieldStaysEditable) {
    const std::string release = folder_.file("release");
    installHelper("while [ ! -e '" + release +
                  "' ]; do sleep 0.05; done\nprintf '%s' '{\"answer\": \"done\"}'\n");
    auto view = makeView(true);
    type(*view, "Slow question");
    QTest::mouseClick(sendButton(*view), Qt::LeftButton);
    ASSERT_TRUE(view->model().isSending());

    type(*view, "Next question");
    EXPECT_TRUE(field(*view)->isEnabled());
    EXPECT_EQ(fieldText(*view), "Next question");
    EXPECT_TRUE(showsChild(view.get(), "workingRow")) << "a visible working state";
    QTest::keyClick(field(*view), Qt::Key_Return);
    EXPECT_EQ(view->rows().size(), 1u) << "Return waits like Send";
    EXPECT_FALSE(sendButton(*view)->isEnabled());
    EXPECT_FALSE(newSessionButton(*view)->isEnabled());

    writeFile(release, "");
    ASSERT_TRUE(answered(*view, 2));
    EXPECT_TRUE(sendButton(*view)->isEnabled());
    EXPECT_TRUE(newSessionButton(*view)->isEnabled());

    QTest::mouseClick(newSessionButton(*view), Qt::LeftButton);
    EXPECT_TRUE(view->rows().empty());
    EXPECT_EQ(child<QLabel>(view.get(), "sessionTitleLabel")->text(), "New conversation");
}

TEST_F(ChatViewTest, TheNewestMessageIsAlwaysInViewAndTheListGrowsWithTheWindow) {
    rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL())
        .save({storeConversation(30, "Message number ")});
    installAnsweringHelper("The newest answer.");
    auto view = makeView(true);
    ASSERT_EQ(view->rows().size(), 30u);
    QApplication::processEvents();
    auto* list = child<QScrollArea>(view.get(), "conversationList");
    QScrollBar* bar = list->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum()) << "opens on the newest message";
    saveScreenshot(view.get(), "chat-long-conversation-small");

    type(*view, "And now?");
    QTest::keyClick(field(*view), Qt::Key_Return);
    ASSERT_TRUE(answered(*view, 32));
    ASSERT_TRUE(waitUntil([&] { return bar->value() == bar->maximum(); }));
    const QRect newest = view->rows().back()->geometry();
    EXPECT_LE(newest.bottom() - bar->value(), list->viewport()->height())
        << "the answer is inside the visible part";

    const int smallHeight = list->height();
    view->resize(700, 900);
    QApplication::processEvents();
    EXPECT_GT(list->height(), smallHeight + 200) << "the conversation takes the window's room";
    EXPECT_EQ(bar->value(), bar->maximum());
    saveScreenshot(view.get(), "chat-long-conversation-large");
}

TEST_F(ChatViewTest, ALongAnswerIsShownFromItsBeginningAndAPersonsScrollIsKept) {
    rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL())
        .save({storeConversation(10, "Earlier message ")});
    std::string answer;
    for (int line = 1; line <= 40; ++line) {
        answer += "Point " + std::to_string(line) + " of a long answer.\\n";
    }
    installAnsweringHelper(answer);
    auto view = makeView(true);
    auto* list = child<QScrollArea>(view.get(), "conversationList");
    QScrollBar* bar = list->verticalScrollBar();

    type(*view, "Tell me everything");
    QTest::keyClick(field(*view), Qt::Key_Return);
    ASSERT_TRUE(answered(*view, 12));
    QApplication::processEvents();
    const rlm::MessageRow* reply = view->rows().back();
    ASSERT_GT(reply->height(), list->viewport()->height()) << "the answer is taller than the view";
    EXPECT_LT(bar->value(), bar->maximum()) << "not scrolled past the answer's beginning";
    EXPECT_GE(reply->y(), bar->value()) << "the answer's first line is in view";
    EXPECT_LT(reply->y() - bar->value(), list->viewport()->height() / 2);
    saveScreenshot(view.get(), "chat-long-answer");

    // The person scrolls back; a later change of the layout leaves them there.
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(bar->value(), 0);
    view->resize(view->width(), view->height() + 40);
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(ChatViewTest, ShortConversationTakesOnlyItsOwnHeight) {
    installAnsweringHelper("Short.");
    auto view = makeView(true);
    auto* list = child<QScrollArea>(view.get(), "conversationList");
    EXPECT_FALSE(list->isVisible()) << "an empty conversation takes no room";
    type(*view, "Hi");
    QTest::keyClick(field(*view), Qt::Key_Return);
    ASSERT_TRUE(answered(*view, 2));
    QApplication::processEvents();
    EXPECT_TRUE(list->isVisible());
    EXPECT_LT(list->sizeHint().height(), ChatView::kConversationPreferredHeight);
    EXPECT_EQ(list->verticalScrollBar()->maximum(), 0);
}

TEST_F(ChatViewTest, CancelEndsAHelperThatNeverAnswersAtOnce) {
    // A helper stuck on a model server that never answers, with a child of
    // its own.
    const std::string pids = folder_.file("pids");
    installHelper("sleep 600 &\necho $! > '" + pids + "'\necho $$ >> '" + pids + "'\nwait\n");
    auto view = makeView(true);
    type(*view, "Where is the party?");
    QTest::keyClick(field(*view), Qt::Key_Return);
    ASSERT_TRUE(view->model().isSending());
    EXPECT_TRUE(showsChild(view.get(), "workingRow"));
    EXPECT_TRUE(child<QLabel>(view.get(), "workingLabel")->text().startsWith("Working"));
    ASSERT_TRUE(waitUntil([&] {
        if (!std::filesystem::exists(pids)) {
            return false;
        }
        const std::string text = readFile(pids);
        return std::count(text.begin(), text.end(), '\n') == 2;
    }));
    saveScreenshot(view.get(), "chat-working");

    QTest::mouseClick(child<QPushButton>(view.get(), "cancelButton"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->model().isSending(); }, 5000))
        << "Cancel ends the run at once, not at the deadline";
    EXPECT_FALSE(showsChild(view.get(), "workingRow"));
    EXPECT_EQ(child<QLabel>(view.get(), "chatErrorLabel")->text(), "Cancelled.");
    EXPECT_EQ(view->rows().size(), 1u) << "the question stays";
    const std::string text = readFile(pids);
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        const int pid = std::stoi(text.substr(start, end - start));
        EXPECT_TRUE(processEnds(pid)) << "process " << pid << " still runs";
        start = end == std::string::npos ? text.size() : end + 1;
    }
    saveScreenshot(view.get(), "chat-cancelled");
}

// The response's "model": null marks an answer from the index; its first
// paragraph, whatever it says, is the notice.
TEST_F(ChatViewTest, TheNoModelNoticeIsShownOnceAndEachAnswerCanBeCopied) {
    installHelper("printf '%s' '{\"answer\": \"No model this time: the model server did not "
                  "answer.\\n\\n1. Sam: pizza at 8\", \"model\": null}'\n");
    auto view = makeView(true);
    for (int question = 0; question < 2; ++question) {
        type(*view, "pizza?");
        QTest::keyClick(field(*view), Qt::Key_Return);
        ASSERT_TRUE(answered(*view, 2 * (question + 1)));
    }
    const QString first = view->rows()[1]->shownText();
    const QString second = view->rows()[3]->shownText();
    EXPECT_TRUE(first.startsWith("No model this time")) << first.toStdString();
    EXPECT_EQ(second, "1. Sam: pizza at 8") << "the notice is not repeated";

    EXPECT_EQ(view->rows()[0]->findChild<QPushButton*>("copyButton"), nullptr)
        << "questions have no Copy";
    QPushButton* copy = view->rows()[3]->findChild<QPushButton*>("copyButton");
    ASSERT_NE(copy, nullptr);
    QApplication::clipboard()->clear();
    copy->click();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), view->rows()[3]->message().text)
        << "the whole answer is copied";
    EXPECT_EQ(copy->text(), "Copied") << "the button says it worked";
    EXPECT_TRUE(waitUntil([&] { return copy->text() == "Copy"; })) << "and offers itself again";
}

TEST_F(ChatViewTest, AnswersShowTheMessagesTheyRelyOn) {
    const std::string longText(400, 'x');
    installHelper("printf '%s' '{\"answer\": \"Dinner is at 8.\", \"messages\": ["
                  "{\"guid\": \"g1\", \"sender_name\": \"Sam Lee\", \"chat_title\": \"Family\", "
                  "\"time\": \"Tue 9 Dec, 18:40\", \"text\": \"Dinner at 8?\"}, "
                  "{\"guid\": \"g2\", \"sender_name\": \"Ana\", \"chat_title\": \"\", "
                  "\"time\": \"Tue 9 Dec, 18:41\", \"text\": \"" +
                  longText + "\"}, {\"guid\": 5}, 7]}'\n");
    auto view = makeView(true);
    type(*view, "When is dinner?");
    QTest::keyClick(field(*view), Qt::Key_Return);
    ASSERT_TRUE(answered(*view, 2));

    const auto cited = view->rows()[1]->findChildren<QLabel*>("citedMessage");
    ASSERT_EQ(cited.size(), 2) << "entries without text are left out";
    auto* heading = view->rows()[1]->findChild<QLabel*>("citationsHeading");
    ASSERT_NE(heading, nullptr) << "the cited messages have a heading";
    EXPECT_EQ(heading->text(), "Messages this answer relies on:");
    EXPECT_LT(heading->y(), cited[0]->y());
    EXPECT_EQ(cited[0]->text(), "Sam Lee · Family · Tue 9 Dec, 18:40\nDinner at 8?");
    const QString shown = rlm::ViewStyle::unwrapped(cited[1]->text());
    EXPECT_TRUE(shown.startsWith("Ana · Tue 9 Dec, 18:41\nxxx"));
    EXPECT_LT(shown.size(), 300) << "a cited text is trimmed";
    saveScreenshot(view.get(), "chat-cited-messages");

    // Stored with the answer, shown again after a restart.
    view.reset();
    auto again = makeView(true);
    ASSERT_EQ(again->rows().size(), 2u);
    EXPECT_EQ(again->rows()[1]->message().citations.size(), 2u);
    EXPECT_EQ(again->rows()[1]->findChildren<QLabel*>("citedMessage").size(), 2);
}

TEST_F(ChatViewTest, AModelsListOfTheMessagesItReliesOnIsShownOnceUnderTheAnswer) {
    installHelper("printf '%s' '{\"answer\": \"Dinner is at 8.\\n\\nMessages this answer "
                  "relies on:\\n- Sam Lee in Family, Tue 9 Dec, 18:40: Dinner at 8?\\n\", "
                  "\"model\": \"m\", \"messages\": [{\"guid\": \"g1\", \"sender_name\": "
                  "\"Sam Lee\", \"chat_title\": \"Family\", \"time\": \"Tue 9 Dec, 18:40\", "
                  "\"text\": \"Dinner at 8?\"}]}'\n");
    auto view = makeView(true);
    type(*view, "When is dinner?");
    QTest::keyClick(field(*view), Qt::Key_Return);
    ASSERT_TRUE(answered(*view, 2));
    EXPECT_EQ(view->rows()[1]->shownText(), "Dinner is at 8.");
    EXPECT_EQ(view->rows()[1]->findChildren<QLabel*>("citedMessage").size(), 1);
}

// Whether an answer came from the index is read from the response's
// "model", never from the answer's words.
TEST_F(ChatViewTest, AnAnswerFromTheIndexIsNotFollowedByItsOwnListAgain) {
    const struct {
        const char* name;
        const char* firstLine;
        const char* model;
        int citedShown;
    } cases[] = {
        {"from the index", "Answer from your messages (no model used: no API key)", "null", 0},
        {"from the index, reworded", "Straight from your messages.", "null", 0},
        {"a model quoting the line", "Answer from your messages (no model used: x)", "\"m\"", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        installHelper(std::string("printf '%s' '{\"answer\": \"") + c.firstLine +
                      "\\n\\n1. Sam Lee, Tue 9 Dec, 18:40: Dinner at 8?\", \"model\": " + c.model +
                      ", \"messages\": [{\"guid\": \"g1\", \"sender_name\": \"Sam Lee\", "
                      "\"time\": \"Tue 9 Dec, 18:40\", \"text\": \"Dinner at 8?\"}]}'\n");
        auto view = makeView(true);
        view->model().startNewSession(true);
        type(*view, "When is dinner?");
        QTest::keyClick(field(*view), Qt::Key_Return);
        ASSERT_TRUE(answered(*view, 2));
        EXPECT_EQ(view->rows()[1]->message().citations.size(), 1u) << "kept with the answer";
        EXPECT_EQ(view->rows()[1]->findChildren<QLabel*>("citedMessage").size(), c.citedShown);
    }
}

TEST_F(ChatViewTest, ALongUnbrokenWordWrapsInsideItsBubble) {
    // 200 characters without a space, in the question, the answer and a
    // cited message.
    std::string url = "https://example.com/";
    while (url.size() < 200) {
        url += "abcdefghij";
    }
    installHelper("printf '%s' '{\"answer\": \"See " + url +
                  "\", \"messages\": [{\"guid\": \"g1\", \"sender_name\": \"Sam\", "
                  "\"time\": \"Tue 9 Dec, 18:40\", \"text\": \"" +
                  url + "\"}]}'\n");
    auto view = makeView(true);
    type(*view, QString::fromStdString(url));
    QTest::keyClick(field(*view), Qt::Key_Return);
    ASSERT_TRUE(answered(*view, 2));
    saveScreenshot(view.get(), "chat-long-words");

    const QString link = QString::fromStdString(url);
    const struct {
        const char* name;
        QLabel* label;
        QString text;
    } cases[] = {
        {"question", view->rows()[0]->findChild<QLabel*>("messageBubble"), link},
        {"answer", view->rows()[1]->findChild<QLabel*>("messageBubble"), "See " + link},
        {"cited message", view->rows()[1]->findChild<QLabel*>("citedMessage"),
         "Sam · Tue 9 Dec, 18:40\n" + link},
        {"conversation title", child<QLabel>(view.get(), "sessionTitleLabel"),
         view->model().sessionTitle()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.label, nullptr);
        EXPECT_EQ(rlm::ViewStyle::unwrapped(c.label->text()), c.text) << "only breaks are added";
        // Every line fits the label's width, the label fits the view, and
        // the label is as tall as its wrapped lines.
        const QRect inside = c.label->contentsRect();
        const QRect needed = c.label->fontMetrics().boundingRect(
            QRect(0, 0, inside.width(), 100000), Qt::TextWordWrap, c.label->text());
        EXPECT_LE(needed.width(), inside.width());
        const QRect inView(c.label->mapTo(view.get(), QPoint(0, 0)), c.label->size());
        EXPECT_LE(inView.right(), view->width());
        EXPECT_GE(c.label->height(), c.label->heightForWidth(c.label->width()));
    }
    EXPECT_EQ(view->rows()[0]->shownText(), link);

    // What is copied from a bubble has no break in it.
    auto* bubble = view->rows()[0]->findChild<QLabel*>("messageBubble");
    bubble->setSelection(0, static_cast<int>(bubble->text().size()));
    QApplication::clipboard()->clear();
    QTest::keyClick(bubble, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), link);
}

TEST(WrappableTextTest, BreaksGoOnlyInsideLongRunsAndNeverSplitACharacter) {
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80"); // one character, two units
    const QString accented = QString::fromUtf8("e\xCC\x81");     // e + combining acute
    const QString longRun = QString(20, 'a');
    const struct {
        const char* name;
        QString text;
    } cases[] = {
        {"short words", "Dinner at 8? See you there"},
        {"a run of exactly the longest length", QString(rlm::ViewStyle::kLongestUnbrokenRun, 'a')},
        {"a long run between words and lines", "see " + longRun + "\nand\t" + longRun + " ok"},
        {"emoji", emoji.repeated(20)},
        {"combining marks", accented.repeated(20)},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString wrappable = rlm::ViewStyle::wrappable(c.text);
        EXPECT_EQ(rlm::ViewStyle::unwrapped(wrappable), c.text);
        // Each piece between breaks is whole: no lone surrogate, no mark
        // without its letter, and only runs longer than the limit broken.
        const QStringList pieces = wrappable.split(QChar(0x200B));
        for (const QString& piece : pieces) {
            if (piece.isEmpty()) {
                EXPECT_TRUE(c.text.isEmpty()) << "two breaks side by side";
                continue;
            }
            EXPECT_FALSE(piece.front().isLowSurrogate() || piece.back().isHighSurrogate());
            EXPECT_FALSE(piece.front().isMark());
        }
        bool longRunInside = false;
        for (const QString& word : c.text.split(QRegularExpression("\\s"))) {
            longRunInside |= word.size() > rlm::ViewStyle::kLongestUnbrokenRun;
        }
        EXPECT_EQ(pieces.size() > 1, longRunInside);
    }
}

TEST_F(ChatViewTest, ALongMessageIsTrimmedUntilShowMore) {
    // One message of 1 MB: laying it all out would take seconds.
    rlm::ChatSession session = storeConversation(2, "short ");
    session.messages[1].text = std::string(1024 * 1024, 'a');
    rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL()).save({session});
    auto view = makeView(true);
    ASSERT_EQ(view->rows().size(), 2u);
    rlm::MessageRow* row = view->rows()[1];
    EXPECT_TRUE(row->isTrimmed());
    EXPECT_LE(row->shownText().size(), rlm::MessageRow::kTrimmedLength + 1);
    EXPECT_FALSE(view->rows()[0]->isTrimmed());
    EXPECT_EQ(view->rows()[0]->findChild<QPushButton*>("showMoreButton"), nullptr);

    QPushButton* more = row->findChild<QPushButton*>("showMoreButton");
    ASSERT_NE(more, nullptr);
    more->click();
    EXPECT_FALSE(row->isTrimmed());
    EXPECT_EQ(row->shownText().size(), 1024 * 1024);
}

TEST_F(ChatViewTest, TwoCopiesSavingOneSessionsFileKeepEachOthersConversations) {
    installAnsweringHelper("ok");
    auto first = makeView(true);
    auto second = makeView(true);
    second->newConversation(); // both opened the same empty one; the second moves on
    ASSERT_NE(first->model().currentSessionID(), second->model().currentSessionID());
    for (ChatView* view : {first.get(), second.get(), first.get()}) {
        type(*view, view == first.get() ? "From the first window" : "From the second window");
        QTest::keyClick(field(*view), Qt::Key_Return);
        ASSERT_TRUE(answered(*view, view == first.get() && view->rows().size() >= 2 ? 4 : 2));
    }
    const auto stored = rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL()).load();
    const auto find = [&](const std::string& id) {
        return std::find_if(stored.begin(), stored.end(),
                            [&](const rlm::ChatSession& s) { return s.id == id; });
    };
    const auto firstStored = find(first->model().currentSessionID());
    const auto secondStored = find(second->model().currentSessionID());
    ASSERT_NE(firstStored, stored.end());
    ASSERT_NE(secondStored, stored.end()) << "the other window's question was not erased";
    EXPECT_EQ(firstStored->messages.size(), 4u);
    EXPECT_EQ(secondStored->messages.size(), 2u);
}

TEST_F(ChatViewTest, EarlierConversationsCanBeOpenedAndDeleted) {
    const rlm::ChatSession older = storeConversation(2, "older ", 3600);
    const rlm::ChatSession newer = storeConversation(2, "newer ");
    rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL()).save({older, newer});
    auto view = makeView(true);
    EXPECT_EQ(view->rows()[0]->message().text, "newer 0") << "the latest opens";

    auto* sessions = child<QListWidget>(view.get(), "sessionList");
    EXPECT_FALSE(sessions->isVisible());
    QTest::mouseClick(child<QPushButton>(view.get(), "sessionsButton"), Qt::LeftButton);
    ASSERT_TRUE(sessions->isVisible());
    ASSERT_EQ(sessions->count(), 2);
    EXPECT_TRUE(sessions->item(0)->text().startsWith("newer 0"));
    EXPECT_TRUE(sessions->item(1)->text().startsWith("older 0"));
    saveScreenshot(view.get(), "chat-conversations");

    QTest::mouseClick(sessions->viewport(), Qt::LeftButton, {},
                      sessions->visualItemRect(sessions->item(1)).center());
    ASSERT_EQ(view->rows().size(), 2u);
    EXPECT_EQ(view->rows()[0]->message().text, "older 0");
    EXPECT_EQ(view->model().currentSessionID(), older.id);

    // "New" keeps both; the empty new one is not listed until it has a question.
    QTest::mouseClick(newSessionButton(*view), Qt::LeftButton);
    EXPECT_TRUE(view->rows().empty());
    EXPECT_EQ(sessions->count(), 3) << "the current, empty conversation is listed too";

    // Delete the older conversation: gone from the list and from the file.
    for (int index = 0; index < sessions->count(); ++index) {
        if (sessions->item(index)->text().startsWith("older 0")) {
            sessions->setCurrentRow(index);
        }
    }
    QTest::mouseClick(child<QPushButton>(view.get(), "deleteSessionButton"), Qt::LeftButton);
    const auto stored = rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL()).load();
    EXPECT_TRUE(std::none_of(stored.begin(), stored.end(),
                             [&](const rlm::ChatSession& s) { return s.id == older.id; }));
    EXPECT_TRUE(std::any_of(stored.begin(), stored.end(),
                            [&](const rlm::ChatSession& s) { return s.id == newer.id; }));
    for (int index = 0; index < sessions->count(); ++index) {
        EXPECT_FALSE(sessions->item(index)->text().startsWith("older 0"));
    }

    // Undo brings it back, into the list, the file and (the current one
    // being empty) the view.
    ASSERT_TRUE(showsChild(view.get(), "undoDeleteButton"));
    EXPECT_EQ(child<QLabel>(view.get(), "deletedLabel")->text(), "Deleted “older 0”.");
    saveScreenshot(view.get(), "chat-deleted-undo");
    QTest::mouseClick(child<QPushButton>(view.get(), "undoDeleteButton"), Qt::LeftButton);
    EXPECT_FALSE(showsChild(view.get(), "undoDeleteButton"));
    EXPECT_EQ(view->model().currentSessionID(), older.id);
    const auto restored = rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL()).load();
    ASSERT_EQ(restored.size(), 2u) << "the empty new conversation is not kept";
    EXPECT_TRUE(std::any_of(restored.begin(), restored.end(),
                            [&](const rlm::ChatSession& s) { return s.id == older.id; }));

    // Pressing New and leaving it leaves nothing behind, also across starts.
    QTest::mouseClick(newSessionButton(*view), Qt::LeftButton);
    QTest::mouseClick(newSessionButton(*view), Qt::LeftButton);
    view.reset();
    const auto afterNew = rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL()).load();
    EXPECT_EQ(std::count_if(afterNew.begin(), afterNew.end(),
                            [](const rlm::ChatSession& s) { return s.messages.empty(); }),
              1)
        << "only the current empty conversation";
}

} // namespace
} // namespace orlune::testing
