#include "MemoryRecordset.h"

#include "DatabaseError.h"

namespace parking {

MemoryRecordset::MemoryRecordset(QStringList columns, std::vector<Row> rows)
    : columns_(std::move(columns)), rows_(std::move(rows))
{
}

int MemoryRecordset::columnIndex(const QString& name) const
{
    for (int i = 0; i < columns_.size(); ++i) {
        if (columns_[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    throw DatabaseError(QStringLiteral("Item cannot be found in the collection: %1").arg(name));
}

QVariant MemoryRecordset::field(const QString& name, std::size_t row) const
{
    return at(row, static_cast<std::size_t>(columnIndex(name)));
}

QVariant MemoryRecordset::at(std::size_t row, std::size_t column) const
{
    // The words the program has always logged for a read past the rows.
    if (row >= rows_.size())
        throw DatabaseError(DatabaseFault::NoCurrentRow);
    if (column >= rows_[row].size())
        throw DatabaseError(QStringLiteral("Item cannot be found in the collection: %1").arg(column));
    return rows_[row][column];
}

} // namespace parking
