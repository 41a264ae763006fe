#pragma once
// A row set whose rows were all fetched when its statement ran.
#include "Connection.h"

#include <QStringList>

#include <vector>

namespace parking {

class MemoryRecordset final : public Recordset {
public:
    using Row = std::vector<QVariant>;

    MemoryRecordset(QStringList columns, std::vector<Row> rows);

    std::size_t size() const override { return rows_.size(); }
    QVariant field(const QString& name, std::size_t row = 0) const override;
    QVariant at(std::size_t row, std::size_t column) const override;

    const QStringList& columns() const { return columns_; }

private:
    int columnIndex(const QString& name) const;

    QStringList columns_;
    std::vector<Row> rows_;
};

} // namespace parking
