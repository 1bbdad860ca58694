#pragma once
// ShadowTools on the shadow database opened read-only (core::ShadowDBReader):
// the file is never created or written, and every statement goes through the
// core's read-only query surface, which refuses anything that could change the
// file or the connection and stops statements that run too long.
//
// One instance, one connection, used from one thread; closed on destruction.

#include "base/EmbeddingGateway.hpp"
#include "helper/ShadowTools.hpp"
#include "shadow/ShadowDBReader.hpp"

#include <chrono>
#include <memory>

namespace orlune::helper {

class ShadowDBTools : public ShadowTools {
public:
    using Clock = std::chrono::steady_clock;

    // Longest time one statement or search may run.
    static constexpr std::chrono::milliseconds kStatementBudget{10000};
    // The most of one text kept (the agent shows far less of it) and of one
    // result; QueryBounds' defaults otherwise.
    static constexpr size_t kCellBytes = 4096;
    static constexpr size_t kResultBytes = 1024 * 1024;

    // Opens `path` read-only. Throws core::ShadowDBError (failedToOpen) when
    // the file is missing or unreadable, is not a shadow database or was
    // written by a newer version.
    explicit ShadowDBTools(const std::string& path);

    // Statements and searches still running at `deadline` are stopped and
    // fail.
    void setDeadline(Clock::time_point deadline) { deadline_ = deadline; }
    // findAnswer() also finds messages near the question in meaning, asking
    // `gateway` for the question's vector, when the database holds vectors
    // (core::AnswerFinder::useSemanticSearch).
    void useSemanticSearch(std::unique_ptr<core::EmbeddingGateway> gateway) {
        embeddings_ = std::move(gateway);
    }

    QueryTable query(const std::string& sql, int limit) override;
    using ShadowTools::search;
    std::vector<MessageHit> search(const std::string& match, int limit,
                                   const core::SearchFilters& filters) override;
    MessageContextHits messageContext(const std::string& guid, int before, int after) override;
    MessageWindowHits conversationWindow(const std::string& guid) override;
    std::optional<AnswerHits> findAnswer(std::string_view question, int limit) override;
    std::vector<std::string> listTables() override;
    std::vector<TableColumn> describeTable(const std::string& table) override;

private:
    // The bounds of the next statement: its time is kStatementBudget or what
    // is left before the deadline, whichever is less (none once it has
    // passed).
    core::QueryBounds bounds() const;

    std::unique_ptr<core::ShadowDBReader> db_;
    std::unique_ptr<core::EmbeddingGateway> embeddings_;
    Clock::time_point deadline_ = Clock::time_point::max();
};

} // namespace orlune::helper
