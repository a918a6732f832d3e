#include "app/build_job.h"

#include "tree/errors.h"

namespace tavrine::app {

BuildJob::BuildJob(clsISOWriter& writer, QObject* parent) : QObject(parent), writer_(writer) {
  qRegisterMetaType<Outcome>("tavrine::app::BuildJob::Outcome");
  connect(this, &BuildJob::ThreadDone, this, &BuildJob::OnThreadDone, Qt::QueuedConnection);
}

BuildJob::~BuildJob() {
  CancelAndWait();
}

void BuildJob::Start(const std::string& outputPath) {
  relay_.Reset();
  writer_.Listener(&relay_);
  const int generation = ++generation_;
  threadEnded_.store(false);
  thread_ = std::thread([this, outputPath, generation] {
    Outcome outcome = Outcome::kInternal;
    QString error;
    try {
      outcome = writer_.SaveISO(outputPath) ? Outcome::kCreated : Outcome::kNotCreated;
    } catch (const CancelledError&) {
      outcome = Outcome::kCancelled;
    } catch (const InternalError& e) {
      error = QString::fromUtf8(e.what());
    } catch (const Error& e) {
      outcome = Outcome::kFailed;
      error = QString::fromUtf8(e.what());
    } catch (const std::exception& e) {
      error = QString::fromUtf8(e.what());
    } catch (...) {
      error = QStringLiteral("Unknown error");
    }
    threadEnded_.store(true);
    emit ThreadDone(generation, outcome, error);
  });
}

void BuildJob::CancelAndWait() {
  if (!thread_.joinable()) return;
  // The writer keeps a stop request made before SaveISO starts, and clears it when SaveISO
  // ends; a thread past that point needs none.
  if (!threadEnded_.load()) writer_.RequestCancel();
  thread_.join();
  writer_.Listener(nullptr);
}

void BuildJob::OnThreadDone(int generation, Outcome outcome, const QString& error) {
  // A build stopped by CancelAndWait has been joined already and reports nothing.
  if (generation != generation_ || !thread_.joinable()) return;
  thread_.join();
  writer_.Listener(nullptr);
  emit Finished(outcome, error);
}

}  // namespace tavrine::app
