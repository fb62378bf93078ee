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

    // The frame's own caption; the title shows it with the console's caption
    // as a maximised child's caption shows in its frame: "caption - [child]".
    void SetCaption(const QString& caption);
    QString Caption() const { return caption_; }

    void MDIForm_Load();
    void MDIForm_QueryUnload(bool& Cancel, int UnloadMode);
    void MDIForm_Resize();

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    explicit MDIMain(QWidget* parent = nullptr);
    void showTitle();
    bool loaded_ = false;
    QString caption_;
};
