// Keeps a commissioning run in the station's results store while it goes, and writes its report
// when it ends. tarvo-cli and the window record through this one class, so a run is stored and
// reported the same way whichever front end ran it.
//
// The store is opened before the run starts (a run that could not be recorded is not started).
// From then on every failure is kept as the first problem: the front end stops the run on it,
// since a result nobody can find later is no result, and the run is not a pass.
#pragma once

#include "CommissioningRecord.h"
#include "ResultsStore.h"

#include <filesystem>
#include <string>
#include <vector>

namespace Results {

class TRunRecorder {
public:
    // Opens (or creates) the store. The reports go into `reportFolder`, or into "reports" beside
    // the database when it is empty.
    bool Open(const std::filesystem::path& database, const std::filesystem::path& reportFolder,
              std::string& error);
    bool IsOpen() const { return store_.IsOpen(); }
    const std::filesystem::path& DatabasePath() const { return store_.Path(); }

    // Gives the run its identity before it starts: a fresh UUID and the hash of the plan's text.
    void Prepare(Procedures::TCommissioningRunRecord& record, const std::string& planText);
    // The run's header, once the engine says it has its identity (its Started callback).
    void Begin(const Procedures::TCommissioningRunRecord& record);
    // A step as it ends, with its series.
    void StepEnded(const std::string& uuid, const Procedures::TCommissioningStepRecord& step,
                   const std::vector<Procedures::TCommissioningSeries>& series);
    // The verdict, then the report (only over a whole record). False when either could not be
    // done; Problem() says what.
    bool Finish(const Procedures::TCommissioningRunRecord& record);

    // The first thing that could not be stored or written; empty while all is well.
    const std::string& Problem() const { return problem_; }
    // The report written by Finish; empty when none was.
    const std::string& ReportPath() const { return reportPath_; }

private:
    TResultsStore store_;
    std::filesystem::path reportFolder_;
    std::string problem_;
    std::string reportPath_;
};

// What a front end says when the store failed during a run (the run is stopped with it).
std::string StoreFailureReason(const std::string& problem);

} // namespace Results
