#pragma once
// Which of the menu's screens shows, decided from what is known of the key,
// the model server and the store.

namespace orlune::rlm {

enum class MenuScreen {
    keySetup, // asks for the key of a model server elsewhere
    access,   // explains how to let the application read the store
    working,  // sync status and chat
};

struct MenuScreenFacts {
    bool hasApiKey = false;
    // "Continue without a key" was chosen in this run.
    bool continuedWithoutKey = false;
    // The settings name a model server that needs a key and the person has
    // not chosen to go on without one for it (ModelServer::asksForKey).
    bool serverAsksForKey = false;
    // The system refuses the store and only a grant helps (the Mac).
    bool storeRefusedBySystem = false;
};

// The key setup while a server needs a key nobody gave or waived; else the
// access screen while the system refuses the store; else the working
// screen, which also says a missing or unreadable store itself, since the
// index and past conversations stay usable. Stateless; any thread.
MenuScreen menuScreenFor(const MenuScreenFacts& facts);

} // namespace orlune::rlm
