#include "RunRecorder.h"

#include "Files.h"
#include "Report.h"
#include "Sha256.h"

namespace Results {

bool TRunRecorder::Open(const std::filesystem::path& database, const std::filesystem::path& reportFolder,
                        std::string& error) {
    if (!store_.Open(database, OpenMode::CreateIfMissing, error)) return false;
    reportFolder_ = reportFolder.empty() ? store_.Path().parent_path() / "reports" : reportFolder;
    problem_.clear();
    reportPath_.clear();
    return true;
}

void TRunRecorder::Prepare(Procedures::TCommissioningRunRecord& record, const std::string& planText) {
    record.Uuid = NewRunUuid();
    record.PlanHash = Sha256Hex(planText);
}

void TRunRecorder::Begin(const Procedures::TCommissioningRunRecord& record) {
    std::string error;
    if (problem_.empty() && !store_.BeginRun(record, error)) problem_ = error;
}

void TRunRecorder::StepEnded(const std::string& uuid, const Procedures::TCommissioningStepRecord& step,
                             const std::vector<Procedures::TCommissioningSeries>& series) {
    std::string error;
    if (problem_.empty() && !store_.AddStep(uuid, step, series, error)) problem_ = error;
}

bool TRunRecorder::Finish(const Procedures::TCommissioningRunRecord& record) {
    std::string error;
    if (problem_.empty() &&
        !store_.FinishRun(record.Uuid, record.Verdict, record.VerdictReason, record.EndMs, error))
        problem_ = error;
    // The report shows what the store holds; without a whole record there is none. A report that
    // cannot be written leaves the stored run as it is, and says how to make the report again.
    if (problem_.empty() && !WriteReport(record, platform::Utf8FromPath(reportFolder_), reportPath_, error)) {
        reportPath_.clear();
        problem_ = "the report could not be written: " + error +
                   " (the run is stored; 'tarvo-cli results report " + record.Uuid +
                   " --out FILE' writes it again)";
    }
    return problem_.empty();
}

std::string StoreFailureReason(const std::string& problem) {
    return "the results database could not record the run: " + problem;
}

} // namespace Results
