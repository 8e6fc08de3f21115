#pragma once

#include <QLabel>
#include <QPixmap>
#include <cstdint>
#include <vector>

namespace korvid {

// A picture-box control: shows encoded image bytes (JPEG, PNG, GIF's first
// frame) scaled into its area with the aspect ratio kept.
class PictureBox : public QLabel {
  Q_OBJECT

 public:
  explicit PictureBox(QWidget* parent = nullptr);

  // Empty bytes clear the box. Bytes that do not decode clear it too.
  void SetImageBytes(const std::vector<std::uint8_t>& bytes);
  [[nodiscard]] bool HasImage() const { return !m_original.isNull(); }
  // A grey hint shown while the box holds no image.
  void SetPlaceholder(const QString& text);

  // The image never asks for room: the layout decides the box's size.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ShowScaled();

  QPixmap m_original;
  QString m_placeholder;
};

}  // namespace korvid
