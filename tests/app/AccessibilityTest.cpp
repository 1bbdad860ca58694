// What assistive technology and the keyboard meet: every control named
// through Qt's accessibility interface, every field labelled, Tab from top
// to bottom, readable contrast, and text that follows the system size.

#include "tests/app/AppTestSupport.hpp"
#include "views/SettingsView.hpp"
#include "views/ViewStyle.hpp"

#include <QAccessible>
#include <QFont>
#include <QPalette>
#include <QPushButton>
#include <gtest/gtest.h>

namespace orlune::testing {
namespace {

using rlm::OrluneRLMMenu;
using rlm::ViewStyle;

// The visible controls under `root` in the accessibility tree whose name is
// empty, described by role and object name.
void collectUnnamed(QAccessibleInterface* node, std::vector<std::string>& unnamed,
                    std::vector<std::string>& seen) {
    if (!node || node->state().invisible) {
        return;
    }
    static const QAccessible::Role controls[] = {
        QAccessible::PushButton,   QAccessible::CheckBox, QAccessible::RadioButton,
        QAccessible::EditableText, QAccessible::List,     QAccessible::ComboBox,
        QAccessible::SpinBox,      QAccessible::Slider};
    if (std::find(std::begin(controls), std::end(controls), node->role()) != std::end(controls)) {
        const QObject* object = node->object();
        const std::string name = object ? object->objectName().toStdString() : "(no object)";
        seen.push_back(name);
        if (node->text(QAccessible::Name).trimmed().isEmpty()) {
            unnamed.push_back(name + " (role " + std::to_string(node->role()) + ")");
        }
    }
    for (int index = 0; index < node->childCount(); ++index) {
        collectUnnamed(node->child(index), unnamed, seen);
    }
}

class AccessibilityTest : public AppTest {
protected:
    static std::vector<std::string> unnamedControls(QWidget* root,
                                                    std::vector<std::string>* seen = nullptr) {
        std::vector<std::string> unnamed, all;
        collectUnnamed(QAccessible::queryAccessibleInterface(root), unnamed, all);
        if (seen) {
            *seen = all;
        }
        return unnamed;
    }

    // The widgets Tab reaches from `first`, in order, once round.
    static std::vector<QWidget*> tabSequence(QWidget* first) {
        std::vector<QWidget*> sequence;
        QWidget* widget = first;
        do {
            if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisible() &&
                widget->isEnabled()) {
                sequence.push_back(widget);
            }
            widget = widget->nextInFocusChain();
        } while (widget && widget != first && sequence.size() < 200);
        return sequence;
    }
};

TEST_F(AccessibilityTest, EveryControlIsNamedAndEveryFieldLabelled) {
    makeStore();
    rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL())
        .save({storeConversation(2, "Where is the van? ")});
    auto menu = std::make_unique<OrluneRLMMenu>(menuSeams());
    menu->show();
    ASSERT_TRUE(waitUntil([&] { return menu->syncModel().hasSynced(); }));
    QTest::mouseClick(child<QPushButton>(menu.get(), "sessionsButton"), Qt::LeftButton);

    std::vector<std::string> seen;
    EXPECT_EQ(unnamedControls(menu.get(), &seen), std::vector<std::string>{});
    for (const char* name : {"questionField", "sendButton", "sessionList", "sessionsButton",
                             "newSessionButton", "syncNowButton", "settingsButton"}) {
        EXPECT_NE(std::find(seen.begin(), seen.end(), name), seen.end())
            << name << " is in the accessibility tree";
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(child<QWidget>(menu.get(), "questionField"))
                  ->text(QAccessible::Name),
              "Question");

    rlm::SettingsView sheet(config_, [](const QUrl&) { return true; });
    sheet.show();
    EXPECT_EQ(unnamedControls(&sheet), std::vector<std::string>{});
    for (const char* field :
         {"settingsApiKeyField", "settingsAddressField", "settingsModelField"}) {
        QAccessibleInterface* node =
            QAccessible::queryAccessibleInterface(child<QWidget>(&sheet, field));
        ASSERT_NE(node, nullptr);
        EXPECT_FALSE(node->relations(QAccessible::Label).isEmpty())
            << field << " has a visible label";
    }
    ASSERT_TRUE(waitUntil([&] { return !menu->syncModel().isSyncing(); }));
}

TEST_F(AccessibilityTest, TabGoesFromTopToBottom) {
    makeStore();
    rlm::FileSessionStore(rlm::FileSessionStore::defaultSessionsURL())
        .save({storeConversation(2, "Where is the van? ")});
    auto menu = std::make_unique<OrluneRLMMenu>(menuSeams());
    menu->show();
    ASSERT_TRUE(waitUntil([&] { return menu->syncModel().hasSynced(); }));
    QTest::keyClicks(child<QWidget>(menu.get(), "questionField"), "Who?");

    const std::vector<QWidget*> sequence = tabSequence(child<QWidget>(menu.get(), "syncNowButton"));
    std::vector<std::string> names;
    int previousTop = -1;
    for (QWidget* widget : sequence) {
        if (widget->objectName() == "copyButton") {
            continue; // one per answer, in the conversation
        }
        names.push_back(widget->objectName().toStdString());
        const int top = widget->mapTo(menu.get(), QPoint(0, 0)).y();
        EXPECT_GE(top, previousTop) << names.back() << " comes after a control below it";
        previousTop = std::max(previousTop, top);
    }
    EXPECT_EQ(names, (std::vector<std::string>{
                         "syncNowButton", "sessionsButton", "newSessionButton", "conversationList",
                         "questionField", "sendButton", "settingsButton", "quitButton"}));
}

TEST(AccessibilityStyleTest, EveryTintIsReadableOnLightAndDarkBackgrounds) {
    guiApplication();
    const QPalette original = QApplication::palette();
    const struct {
        const char* name;
        QColor window, text;
    } palettes[] = {
        {"light", QColor(246, 246, 246), QColor(20, 20, 20)},
        {"white", Qt::white, Qt::black},
        {"dark", QColor(40, 40, 40), QColor(235, 235, 235)},
        {"black", Qt::black, Qt::white},
    };
    for (const auto& p : palettes) {
        QPalette palette = original;
        palette.setColor(QPalette::Window, p.window);
        palette.setColor(QPalette::WindowText, p.text);
        QApplication::setPalette(palette);
        for (auto tint : {ViewStyle::Tint::primary, ViewStyle::Tint::secondary,
                          ViewStyle::Tint::red, ViewStyle::Tint::green, ViewStyle::Tint::blue}) {
            EXPECT_GE(ViewStyle::contrastRatio(ViewStyle::colour(tint), p.window), 4.5)
                << p.name << " tint " << static_cast<int>(tint);
        }
        EXPECT_NE(ViewStyle::colour(ViewStyle::Tint::red),
                  ViewStyle::colour(ViewStyle::Tint::green))
            << "tints stay apart";
    }
    QApplication::setPalette(original);
    EXPECT_NEAR(ViewStyle::contrastRatio(Qt::black, Qt::white), 21.0, 0.01);
    EXPECT_NEAR(ViewStyle::contrastRatio(QColor(118, 118, 118), Qt::white), 4.54, 0.02);
}

TEST(AccessibilityStyleTest, SmallerTextFollowsTheSystemSizeAtMostTwoPointsBelow) {
    guiApplication();
    const QFont original = QApplication::font();
    qreal previousCaption = 0;
    for (qreal body : {6.0, 9.0, 13.0, 24.0}) {
        QFont font = original;
        font.setPointSizeF(body);
        QApplication::setFont(font);
        const qreal caption = ViewStyle::font(ViewStyle::TextStyle::caption).pointSizeF();
        const qreal subheadline = ViewStyle::font(ViewStyle::TextStyle::subheadline).pointSizeF();
        EXPECT_EQ(ViewStyle::font(ViewStyle::TextStyle::body).pointSizeF(), body);
        EXPECT_LT(caption, body) << body;
        EXPECT_GE(caption, body - 2.0) << body;
        EXPECT_GE(subheadline, caption) << body;
        EXPECT_GT(caption, previousCaption) << "grows with the system size, no fixed floor";
        previousCaption = caption;
    }
    QApplication::setFont(original);
}

} // namespace
} // namespace orlune::testing
