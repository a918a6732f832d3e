// The file list: each item is a local file and the image folder it goes to, with a second
// column that shows where the plan puts it in the image. Filled in batches, so that a folder of
// many thousand files goes in at once.
#pragma once

#include <QAbstractTableModel>
#include <QCursor>
#include <QList>
#include <QStringList>
#include <QTreeView>
#include <QUrl>
#include <optional>
#include <string>
#include <vector>

#include "app/image_plan.h"

namespace tavrine::app {

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  const std::vector<ListedFile>& Files() const { return files_; }
  // The texts of the first column, in order.
  QStringList Paths() const;
  // The texts of the "In image" column, in order.
  QStringList InImage() const;
  // Appends at the end, in one insertion.
  void Append(std::vector<ListedFile> files);
  // Removes the given rows (in any order).
  void Remove(std::vector<int> rows);
  void Clear();
  // Exchanges two rows.
  void Swap(int a, int b);
  // Where each file goes, one placement per row in order.
  void ShowPlan(std::vector<Placement> placements);

 signals:
  // After any change of the files or their order.
  void FilesChanged();

 private:
  std::vector<ListedFile> files_;
  std::vector<Placement> plan_;  // may lag behind files_ until the next plan arrives
};

// The view: accepts dropped file lists, removes with Delete or a double-click, and reorders an
// item by dragging it over its neighbours (each exchanges its text with the dragged one).
class FileListView : public QTreeView {
  Q_OBJECT

 public:
  explicit FileListView(QWidget* parent = nullptr);
  FileListModel& Model() { return model_; }
  // The pointer shown while an item is pressed; without one the arrow stays.
  void DragCursor(const QCursor& cursor) { dragCursor_ = cursor; }

 signals:
  void FilesDropped(const QList<QUrl>& urls);
  // Delete key on the selected rows, or a double-click on one.
  void RemoveRequested(std::vector<int> rows);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::vector<int> SelectedRows() const;
  void DragOver(const QPoint& position);

  FileListModel model_;
  std::optional<QCursor> dragCursor_;
  bool dragging_ = false;
  int draggedRow_ = -1;
};

}  // namespace tavrine::app
