#include "views/MenuScreen.hpp"

namespace orlune::rlm {

MenuScreen menuScreenFor(const MenuScreenFacts& facts) {
    if (facts.serverAsksForKey && !facts.hasApiKey && !facts.continuedWithoutKey) {
        return MenuScreen::keySetup;
    }
    return facts.storeRefusedBySystem ? MenuScreen::access : MenuScreen::working;
}

} // namespace orlune::rlm
