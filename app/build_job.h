// Runs the writer's SaveISO on a worker thread, so that the window stays alive while an image
// is written, and brings the writer's events to the GUI thread in the order they were raised.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <string>
#include <thread>

#include "image/writer.h"

namespace tavrine::app {

class BuildJob : public QObject {
  Q_OBJECT

 public:
  enum class Outcome { kCreated, kNotCreated, kFailed, kCancelled };

  explicit BuildJob(clsISOWriter& writer, QObject* parent = nullptr);
  ~BuildJob() override;

  // Starts SaveISO(outputPath); nothing else may touch the writer until Finished arrives.
  void Start(const std::string& outputPath);
  bool Running() const { return thread_.joinable(); }
  // Asks the running build to stop and waits for it to end; Finished is not delivered.
  void CancelAndWait();

 signals:
  void BuildingFilesystem();
  void WritingPathTable();
  void WritingDirectoryRecords();
  void WritingFiles(int percent);
  // Bytes of the image written so far, also inside a large file.
  void BytesWritten(qint64 written, qint64 total);
  void WritingFinished();
  // After the events of the build. error holds the writer's message for kFailed.
  void Finished(tavrine::app::BuildJob::Outcome outcome, const QString& error);

  // Raised on the worker thread; delivered queued to this object.
  void ThreadDone(int generation, tavrine::app::BuildJob::Outcome outcome, const QString& error);

 private:
  // Forwards the writer's events as this object's signals (raised on the worker thread).
  class Relay : public WriterEvents {
   public:
    explicit Relay(BuildJob& job) : job_(job) {}
    void BuildingFilesystem() override { emit job_.BuildingFilesystem(); }
    void WritingPathTable() override { emit job_.WritingPathTable(); }
    void WritingDirectoryRecords() override { emit job_.WritingDirectoryRecords(); }
    void WritingFiles(std::int32_t percent) override { emit job_.WritingFiles(percent); }
    void BytesWritten(std::int64_t written, std::int64_t total) override {
      emit job_.BytesWritten(written, total);
    }
    void WritingFinished() override { emit job_.WritingFinished(); }

   private:
    BuildJob& job_;
  };

  void OnThreadDone(int generation, Outcome outcome, const QString& error);

  clsISOWriter& writer_;
  Relay relay_{*this};
  std::thread thread_;
  std::atomic<bool> threadEnded_{false};
  int generation_ = 0;  // tells a stopped build's late report from the current one's
};

}  // namespace tavrine::app
