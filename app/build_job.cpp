#include "app/build_job.h"

#include "app/utilities.h"
#include "fileio/paths.h"
#include "tree/errors.h"

namespace tavrine::app {

BuildJob::BuildJob(clsISOWriter& writer, QObject* parent) : QObject(parent), writer_(writer) {
  qRegisterMetaType<Outcome>("tavrine::app::BuildJob::Outcome");
  connect(this, &BuildJob::ThreadDone, this, &BuildJob::OnThreadDone, Qt::QueuedConnection);
}

BuildJob::~BuildJob() {
  StopAndWait();
}

void BuildJob::Relay::BytesWritten(std::int64_t written, std::int64_t total) {
  StopIfAsked();
  const int percent = total > 0 ? static_cast<int>(written * 100 / total) : 100;
  if (percent == percent_) return;
  percent_ = percent;
  emit job_.Written(percent);
}

void BuildJob::Start(std::vector<ListedFile> files, std::string outputPath) {
  relay_.Reset();
  stop_.store(false);
  writer_.Listener(&relay_);
  const int generation = ++generation_;
  thread_ =
      std::thread([this, files = std::move(files), outputPath = std::move(outputPath), generation] {
        Run(files, outputPath);
        emit ThreadDone(generation);
      });
}

void BuildJob::Run(const std::vector<ListedFile>& files, const std::string& outputPath) {
  outcome_ = Outcome::kInternal;
  error_.clear();
  placements_.clear();
  try {
    const std::shared_ptr<clsISODirectory> root = writer_.Root();
    // Every build starts from an empty image, so that files taken off the list stay out of it.
    root->Clear();
    TreeFiller filler(*root);
    const int count = static_cast<int>(files.size());
    for (int i = 0; i < count && !stop_.load(); ++i) {
      const std::string& path = files[static_cast<std::size_t>(i)].path;
      emit Adding(i + 1, count, FromNativePath(std::string(NameOfPath(path))));
      placements_.push_back(filler.Add(files[static_cast<std::size_t>(i)]));
    }
    if (stop_.load()) {
      outcome_ = Outcome::kCancelled;
      return;
    }
    emit FilesAdded();
    outcome_ = writer_.SaveISO(outputPath) ? Outcome::kCreated : Outcome::kNotCreated;
  } catch (const CancelledError&) {
    outcome_ = Outcome::kCancelled;
  } catch (const InternalError& e) {
    error_ = QString::fromUtf8(e.what());
  } catch (const Error& e) {
    outcome_ = Outcome::kFailed;
    error_ = QString::fromUtf8(e.what());
  } catch (const std::exception& e) {
    error_ = QString::fromUtf8(e.what());
  } catch (...) {
    error_ = QStringLiteral("Unknown error");
  }
}

BuildJob::Outcome BuildJob::StopAndWait() {
  if (!thread_.joinable()) return outcome_;
  stop_.store(true);
  thread_.join();
  writer_.Listener(nullptr);
  return outcome_;
}

void BuildJob::OnThreadDone(int generation) {
  // A build stopped by StopAndWait has been joined already and reports nothing.
  if (generation != generation_ || !thread_.joinable()) return;
  thread_.join();
  writer_.Listener(nullptr);
  emit Finished(outcome_, error_);
}

}  // namespace tavrine::app
