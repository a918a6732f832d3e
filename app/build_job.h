// Runs one build on a worker thread: puts the listed files into the writer's tree and writes the
// image with SaveISO. The window stays alive meanwhile, a box it shows never holds the build up,
// and the writer's events reach the GUI thread in the order they were raised.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/image_plan.h"
#include "image/writer.h"

namespace tavrine::app {

class BuildJob : public QObject {
  Q_OBJECT

 public:
  // kFailed: the writer refused or could not finish, and its message says why (a full disk, a
  // name the format cannot hold); kInternal: a fault of the program itself.
  enum class Outcome { kCreated, kNotCreated, kFailed, kInternal, kCancelled };

  explicit BuildJob(clsISOWriter& writer, QObject* parent = nullptr);
  ~BuildJob() override;

  // Empties the writer's root, places files in it as TreeFiller does, then runs
  // SaveISO(outputPath). Nothing else may touch the writer until Finished arrives.
  void Start(std::vector<ListedFile> files, std::string outputPath);
  bool Running() const { return thread_.joinable(); }
  // Asks the build to stop; Finished follows (kCancelled, unless the build was through).
  void Stop() { stop_.store(true); }
  // Stops the build and waits for its end; Finished is not delivered. Returns how it ended: an
  // image finished before the request is kept (kCreated).
  Outcome StopAndWait();
  // Where each listed file went; complete once Finished has arrived.
  const std::vector<Placement>& Placements() const { return placements_; }

 signals:
  // Before file number (from 1) of count is put into the tree.
  void Adding(int number, int count, const QString& name);
  void FilesAdded();
  void BuildingFilesystem();
  void WritingPathTable();
  void WritingDirectoryRecords();
  void WritingFiles(int percent);
  void WritingFinished();
  // The part of the image written so far, in percent, whenever it grows by one (also inside
  // large files).
  void Written(int percent);
  // After the events of the build. error holds the message for kFailed and kInternal.
  void Finished(tavrine::app::BuildJob::Outcome outcome, const QString& error);

  // Raised on the worker thread; delivered queued to this object.
  void ThreadDone(int generation);

 private:
  // Forwards the writer's events as this object's signals, and hands a stop request to the
  // writer from inside SaveISO, so that it is always cleared when SaveISO ends.
  class Relay : public WriterEvents {
   public:
    explicit Relay(BuildJob& job) : job_(job) {}
    void BuildingFilesystem() override { Pass(&BuildJob::BuildingFilesystem); }
    void WritingPathTable() override { Pass(&BuildJob::WritingPathTable); }
    void WritingDirectoryRecords() override { Pass(&BuildJob::WritingDirectoryRecords); }
    void WritingFiles(std::int32_t percent) override {
      StopIfAsked();
      emit job_.WritingFiles(percent);
    }
    void WritingFinished() override { emit job_.WritingFinished(); }
    void BytesWritten(std::int64_t written, std::int64_t total) override;
    void Reset() { percent_ = -1; }

   private:
    void StopIfAsked() {
      if (job_.stop_.load()) job_.writer_.RequestCancel();
    }
    void Pass(void (BuildJob::*signal)()) {
      StopIfAsked();
      emit(job_.*signal)();
    }
    BuildJob& job_;
    int percent_ = -1;
  };

  void Run(const std::vector<ListedFile>& files, const std::string& outputPath);
  void OnThreadDone(int generation);

  clsISOWriter& writer_;
  Relay relay_{*this};
  std::thread thread_;
  std::atomic<bool> stop_{false};
  // Written by the worker, read after it has been joined.
  std::vector<Placement> placements_;
  Outcome outcome_ = Outcome::kInternal;
  QString error_;
  int generation_ = 0;  // tells a stopped build's late report from the current one's
};

}  // namespace tavrine::app
