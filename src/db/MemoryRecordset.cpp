#include "MemoryRecordset.h"

#include "DatabaseError.h"

#include <algorithm>

namespace parking {

MemoryRecordset::MemoryRecordset(QStringList columns, std::vector<Row> rows,
                                 std::vector<Row> hidden, Writer writer)
    : columns_(std::move(columns)), rows_(std::move(rows)), hidden_(std::move(hidden)),
      writer_(std::move(writer))
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

void MemoryRecordset::requireRow() const
{
    if (bof() || eof())
        throw DatabaseError(QStringLiteral("Either BOF or EOF is True, or the current record has been deleted"));
}

QVariant MemoryRecordset::field(const QString& name) const
{
    const int column = columnIndex(name);
    requireRow();
    return rows_[current_][static_cast<std::size_t>(column)];
}

void MemoryRecordset::setField(const QString& name, const QVariant& value)
{
    const int column = columnIndex(name);
    requireRow();
    QVariant& cell = rows_[current_][static_cast<std::size_t>(column)];
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [column](const Change& c) { return c.column == column; });
    if (it == pending_.end())
        pending_.push_back({column, cell, value});
    else
        it->value = value;
    cell = value;
}

void MemoryRecordset::update()
{
    requireRow();
    if (pending_.empty())
        return;
    if (!writer_ || current_ >= hidden_.size())
        throw DatabaseError(QStringLiteral("The row set cannot be updated"));
    try {
        writer_(hidden_[current_], pending_);
    } catch (...) {
        for (const Change& c : pending_)
            rows_[current_][static_cast<std::size_t>(c.column)] = c.original;
        pending_.clear();
        throw;
    }
    pending_.clear();
}

void MemoryRecordset::moveNext()
{
    if (eof())
        throw DatabaseError(QStringLiteral("Either BOF or EOF is True, or the current record has been deleted"));
    pending_.clear();
    ++current_;
}

} // namespace parking
