#pragma once
// The clock dialog with which the operator checks the PC's date and time before
// the station sends it to the switch; hidden, it holds the station's icon strip.
#include <QDateTimeEdit>
#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

// An icon strip of 6 rows x 12 columns of equal cells, numbered row by row from 0.
class PictureClip {
public:
    static constexpr int kRows = 6;
    static constexpr int kCols = 12;
    void setPicture(const QPixmap& strip) { strip_ = strip; }
    const QPixmap& Picture() const { return strip_; }
    // The picture of cell n; an empty picture outside 0..71.
    QPixmap GraphicCell(int n) const;
    void release() { strip_ = QPixmap(); }

private:
    QPixmap strip_;
};

class frmPicClip : public QDialog {
    Q_OBJECT
public:
    static frmPicClip& instance();
    static bool exists();
    static void unload();

    // The strip built into the station, drawn by code: 480 x 240, cells of 40 x 40.
    static QPixmap BuiltInStrip();

    void dtp_Change();
    void Command1_Click();

    QLabel* Label1 = nullptr;
    QDateTimeEdit* dtp = nullptr;
    QPushButton* Command1 = nullptr;
    PictureClip Pc;

private:
    explicit frmPicClip(QWidget* parent = nullptr);
};
