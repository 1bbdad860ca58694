#include "sessions/ChatSession.hpp"

namespace orlune::rlm {

std::string ChatSession::newID() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
}

} // namespace orlune::rlm
