#pragma once
// The main frame: holds the console window and every other window of the
// station; closing it asks the console whether the station may end.
#include <QMainWindow>

class MDIMain : public QMainWindow {
    Q_OBJECT
public:
    static MDIMain& instance();
    static bool exists();
    static void unload();
    ~MDIMain() override;

    // Loads the frame (console start-up, login, caption) and shows it.
    void Show();

    void MDIForm_Load();
    void MDIForm_QueryUnload(bool& Cancel, int UnloadMode);
    void MDIForm_Resize();

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    explicit MDIMain(QWidget* parent = nullptr);
    bool loaded_ = false;
};
