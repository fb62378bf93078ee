#pragma once
// The folder chooser: pick or type a folder, created on request when missing.
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

class frmFindDir : public QDialog {
    Q_OBJECT
public:
    static frmFindDir& instance();
    static bool exists();
    static void unload();

    // The chosen folder with one trailing "/", or "" when cancelled.
    QString SelectPath(QString start);

    void Dir1_Change(const QString& folder);
    // The operator typed in txtDir: the list moves to the place it names.
    void txtDir_Change(const QString& text);
    // The folder the list shows.
    QString ListedFolder() const { return listed_; }
    void cmdOK_Click();
    void cmdCancel_Click();

    QComboBox* Drive1 = nullptr;   // the file system's root
    QListWidget* Dir1 = nullptr;   // folders under txtDir's folder
    QLineEdit* txtDir = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;

private:
    explicit frmFindDir(QWidget* parent = nullptr);
    void listFolders(const QString& folder);
    QString result_;
    QString listed_;
};

namespace admin {
// Creates every missing level of the absolute folder `path`. False on failure.
bool MakeFolderLevels(const QString& path);
}  // namespace admin
