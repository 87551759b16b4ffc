// The main window: shows the current process as its first panel's picture on the
// process's background colour, and leads to every command through its menus.
#pragma once

#include "dialogs/ProcessView.h"
#include "model/ProcessStore.h"

#include <QMainWindow>
#include <array>

class ImageControl;
class QAction;
class QMenu;

class frm_main : public QMainWindow, public ProcessView {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 521;
    static constexpr int kClientHeight = 321;

    explicit frm_main(const QString& storePath);
    ~frm_main() override;

    QWidget* Owner() override { return this; }
    void ApplyProcess(const ProcessRecord& record) override;
    void FitImage() override;
    const ImageControl& Picture() const override { return *img_; }
    const ProcessStore& Store() const override { return store_; }
    void UpdateMenuState();

    ImageControl* Img() const { return img_; }
    QWidget* ClientArea() const;
    QMenu* ViewMenu() const { return m_VIEW; }

  private:
    class Client;

    void BuildMenus();
    QAction* AddItem(QMenu* menu, const char* name, const QString& caption,
                     const QKeySequence& shortcut = {});
    void SetAppearanceChecks(int appearance);
    void m_VIEW_Open();
    void m_APPR_Click(int index);
    void m_SET_Click(int index);
    void m_PREVIEW_Click();
    void Img_MouseUp(Qt::MouseButton button);

    ProcessStore store_;
    Client* client_ = nullptr;
    ImageControl* img_ = nullptr;
    QMenu* m_FILE = nullptr;
    QMenu* m_EDIT = nullptr;
    QMenu* m_VIEW = nullptr;
    QMenu* m_STYLE = nullptr;
    QMenu* m_RUN = nullptr;
    QMenu* m_TOOL = nullptr;
    QMenu* m_HELP = nullptr;
    QAction* m_SAVE = nullptr;
    QAction* m_EXPORT = nullptr;
    std::array<QAction*, 3> m_SET{};
    std::array<QAction*, 2> m_APPR{};
};
