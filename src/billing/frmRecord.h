#pragma once
// The result window of a bill query "话单记录": the matching call records of
// the current call-record file and of the yearly archives, newest year first,
// in the records grid; their charges per queried object and call category in
// the summary grid. The operator can stop a long query, sort and print.
#include "billing/BillQuery.h"
#include "platform/Currency.h"
#include "platform/FlexGrid.h"

#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QVector>
#include <QWidget>
#include <functional>

class frmRecord : public QWidget {
    Q_OBJECT
public:
    static frmRecord& instance();
    static bool exists();
    static void unload();

    // The record rows the grid holds at most.
    static constexpr int kMaxRows = 100000;

    // Runs the query (the whole walk) and returns when it has ended; the window
    // stays open for sorting and printing. `objects` are the dialog's ticked
    // items in list order, `kindCaption` the kind's caption.
    int ShowBill(const billing::BillCondition& cond, int sortColumn, const QString& kindCaption,
                 const QList<billing::QueryObject>& objects);

    void cmdClose_Click();
    void cmdPrint_Click(int index);
    void fgCollect_Click(int col);
    void fgRecord_Click(int col);
    bool Running() const { return m_Running; }
    // Record rows shown (the empty first row not counted).
    int RecordRows() const;
    // The files read by the last walk, in order (file names).
    const QStringList& FilesRead() const { return m_FilesRead; }

    platform::FlexGrid* fgRecord = nullptr;
    platform::FlexGrid* fgCollect = nullptr;
    QLabel* lblInfo = nullptr;
    QPushButton* cmdClose = nullptr;
    QVector<QPushButton*> cmdPrint;

    ~frmRecord() override;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    explicit frmRecord(QWidget* parent = nullptr);
    struct SummaryRow {
        QSet<QString> keys;
        bool deleted = false;
        platform::Currency total, fees[5], types[11];
    };
    void BuildObjectFilter(const QList<billing::QueryObject>& objects);
    void QueryBills();
    // Reads one table's matching rows into the grid and the sums; false ends the walk.
    bool readTable(const platform::Database& db, const QString& table);
    void writeSums();
    void sortGrid(platform::FlexGrid& grid, int col, bool numeric, bool ascending);
    void ended();

    billing::BillCondition m_Cond;
    int m_Sort = 1;
    QString m_Caption;
    bool m_Running = false;
    bool m_StopRequested = false;
    bool m_Full = false;
    bool m_EmptyRow = true;    // the grid's initial empty row is still there
    bool m_Closing = false;
    QString m_Where;
    platform::Params m_Params;
    QVector<SummaryRow> m_Sums;
    QHash<QString, QVector<int>> m_KeyRows;   // record key -> summary rows
    QVector<int> m_DeletedRows;
    QHash<qint64, QString> m_Users;
    QHash<qint64, QString> m_Extensions;
    QStringList m_FilesRead;
    int m_RecordDir = 0;
    int m_CollectDir = 0;
};

namespace billing::testing {
// Called at every yield of a query walk with the record rows shown so far.
void setQueryYieldHook(std::function<void(int rows)> hook);
}  // namespace billing::testing
