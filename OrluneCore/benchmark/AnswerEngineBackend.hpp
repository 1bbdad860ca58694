#pragma once
// The answer engine as the retrieval benchmark drives it: a shadow database
// file of its own holding the corpus's messages, its people (names, nicknames,
// handles), chat titles and the reactions on its messages, searched with AnswerFinder the way the
// index answer reads a question.

#include "answer/AnswerFinder.hpp"
#include "benchmark/BenchmarkCorpus.hpp"
#include "benchmark/SearchBackend.hpp"
#include "shadow/ShadowDB.hpp"
#include "time/LocalTime.hpp"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orlune::core {

// Holds an open database from construction on; destruction closes it and
// leaves the file. Calls must not overlap; every ShadowDB::Error passes
// through unchanged.
class AnswerEngineBackend : public SearchBackend {
public:
    // Creates the database at `databasePath` (made fresh: an existing file
    // and its -wal and -shm are removed first) with the corpus's contacts and chats; questions are
    // read at `time` (the corpus's moment and zone). Throws ShadowDBError.
    AnswerEngineBackend(const std::string& databasePath, const BenchmarkCorpus& corpus,
                        TimeContext time);
    ~AnswerEngineBackend() override;

    const std::string& name() const override { return name_; }
    // The guids AnswerFinder::find gives for `query` read as a question, in
    // its order.
    std::vector<std::string> search(const std::string& query, int limit) override;
    // Writes the messages with their attachments, and the corpus's reactions
    // on them (in the corpus's order, just after the message).
    void ingest(const std::vector<ShadowMessage>& messages) override;
    // Makes the database afresh: no messages; the people and chats stay.
    void reset() override;

    const std::string& databasePath() const { return databasePath_; }

    // The people and chat rows of the corpus: one person per contact
    // ("First Last" split at the first space), each handle once (the first
    // contact that lists it), and one chat row per corpus chat titled by its
    // name. Pure.
    static PeopleTables peopleTables(const BenchmarkCorpus& corpus);

private:
    void open();

    const std::string name_ = "answer engine";
    const std::string databasePath_;
    TimeContext time_;
    const PeopleTables people_;
    // The corpus's reactions by the guid of the message they stand on.
    std::map<std::string, std::vector<CorpusReaction>> reactions_;
    std::unique_ptr<ShadowDB> db_;
    std::unique_ptr<AnswerFinder> finder_; // made at the first search after an ingest
};

} // namespace orlune::core
