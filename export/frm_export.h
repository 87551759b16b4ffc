// The export dialog: the format, the frame size and the file to write the
// current process to, as the player shows it. It changes nothing in the process.
#pragma once

#include "dialogs/DialogBase.h"
#include "export/Export.h"

#include <array>

class ProcessView;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

class frm_export : public DialogBase {
    Q_OBJECT
  public:
    explicit frm_export(QWidget* owner);

    // The frame size typed or chosen, if it is one, in pixels, and the pixels
    // to a pixel of the player's window: the screen's ratio for the screen's
    // size (the frames as sharp as the player on it), else 1.
    struct Frame {
        QSize size;
        double ratio;
    };
    std::optional<Frame> FrameSize() const;
    ExportFormat Format() const;

  protected:
    void reject() override;

  private:
    void Form_Load();
    void opt_Click();
    void btnBrowse_Click();
    void btnOK_Click();
    bool AllowedToReplace(const QString& path);
    ExportOutcome RunExport(const QString& path, const ExportOptions& options);
    void ShowTiming();

    std::array<QRadioButton*, 4> opt{};  // strip, WebP, GIF, numbered frames
    QCheckBox* chkLossy = nullptr;
    QSpinBox* txtQuality = nullptr;
    QComboBox* cboSize = nullptr;
    QLineEdit* txtFile = nullptr;
    QPushButton* btnBrowse = nullptr;
    QLabel* lblTiming = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCAN = nullptr;
    bool exporting_ = false;
};

// The file extension of a format ("png", "webp", "gif").
QString SuffixOf(ExportFormat format);

// Export: writes the current process as a strip, numbered frames or an animation.
void ExportCommand(ProcessView& view);
