// The chat panel: when "Send" and "New Session" can be pressed, what return
// does, where bubbles sit, the error line and the conversation's scrolling.

#include "OrluneRLM/views/ChatView.hpp"

#include "OrluneRLM/views/MessageRow.hpp"
#include "OrluneRLM/views/ViewStyle.hpp"
#include "tests/app/AppTestSupport.hpp"

#include <QLineEdit>
#include <QPushButton>
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

    static QLineEdit* field(ChatView& view) { return child<QLineEdit>(&view, "questionField"); }
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

TEST_F(ChatViewTest, SendIsEnabledOnlyWhenReadyWithAQuestionAndIdle) {
    installAnsweringHelper("ok");
    auto view = makeView(false);
    EXPECT_EQ(child<QLabel>(view.get(), "chatHeading")->text(), "Chat");
    EXPECT_EQ(child<QLabel>(view.get(), "sessionTitleLabel")->text(), "New conversation");
    EXPECT_EQ(field(*view)->placeholderText(), "Ask anything...");

    struct Case {
        bool ready;
        QString text;
        bool sendEnabled;
    };
    const Case cases[] = {
        {false, "", false},
        {false, "What did Sam say?", false}, // before the first sync
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

TEST_F(ChatViewTest, ReturnSendsEvenBeforeTheFirstSync) {
    installAnsweringHelper("Sam said hello.");
    auto view = makeView(false);
    type(*view, "  What did Sam say? ");
    QTest::keyClick(field(*view), Qt::Key_Return);

    EXPECT_TRUE(field(*view)->text().isEmpty()) << "the model took the question";
    ASSERT_TRUE(answered(*view, 2));
    EXPECT_EQ(view->rows()[0]->message().text, "What did Sam say?");
    EXPECT_EQ(view->rows()[1]->message().text, "Sam said hello.");
    EXPECT_EQ(child<QLabel>(view.get(), "sessionTitleLabel")->text(), "What did Sam say?");

    // Return with a blank field does nothing.
    type(*view, "   ");
    QTest::keyClick(field(*view), Qt::Key_Return);
    EXPECT_EQ(view->rows().size(), 2u);
    EXPECT_EQ(field(*view)->text(), "   ");
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
    EXPECT_EQ(field(*view)->text(), "Next question");
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

TEST_F(ChatViewTest, LongConversationScrollsWithinItsHeightAndNeverJumps) {
    rlm::ChatSession session;
    session.id = rlm::ChatSession::newID();
    session.createdAt = rlm::ChatDate::now();
    for (int index = 0; index < 30; ++index) {
        session.messages.push_back(
            rlm::ChatMessage::make(index % 2 ? rlm::ChatRole::assistant : rlm::ChatRole::user,
                                   "Message number " + std::to_string(index)));
    }
    session.lastMessageAt = session.messages.back().timestamp;
    session.title = session.messages.front().text;
    session.messageCount = static_cast<int64_t>(session.messages.size());
    rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL()).save({session});

    installAnsweringHelper("The newest answer.");
    auto view = makeView(true);
    ASSERT_EQ(view->rows().size(), 30u);
    auto* list = child<QScrollArea>(view.get(), "conversationList");
    EXPECT_EQ(list->height(), ChatView::kConversationMaxHeight);
    QScrollBar* bar = list->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), 0);

    type(*view, "And now?");
    QTest::keyClick(field(*view), Qt::Key_Return);
    ASSERT_TRUE(answered(*view, 32));
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), 0) << "the list does not scroll to the newest message";
    EXPECT_EQ(list->height(), ChatView::kConversationMaxHeight);
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
    EXPECT_LT(list->height(), ChatView::kConversationMaxHeight);
    EXPECT_EQ(list->verticalScrollBar()->maximum(), 0);
}

} // namespace
} // namespace orlune::testing
