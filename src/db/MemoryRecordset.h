#pragma once
// A row set whose rows were all fetched at open. Backends fill it and give
// it the function that writes a changed row back optimistically.
#include "Connection.h"

#include <QStringList>

#include <functional>
#include <vector>

namespace parking {

class MemoryRecordset final : public Recordset {
public:
    using Row = std::vector<QVariant>;
    struct Change {
        int column;
        QVariant original;
        QVariant value;
    };
    // Writes the changes of one row; `hidden` are the values of the hidden
    // columns the backend fetched to find the row again. Throws on conflict.
    using Writer = std::function<void(const Row& hidden, const std::vector<Change>& changes)>;

    MemoryRecordset(QStringList columns, std::vector<Row> rows, std::vector<Row> hidden = {},
                    Writer writer = {});

    bool bof() const override { return rows_.empty(); }
    bool eof() const override { return current_ >= rows_.size(); }
    QVariant field(const QString& name) const override;
    void setField(const QString& name, const QVariant& value) override;
    void update() override;
    void moveNext() override;

    const QStringList& columns() const { return columns_; }

private:
    int columnIndex(const QString& name) const;
    void requireRow() const;

    QStringList columns_;
    std::vector<Row> rows_;
    std::vector<Row> hidden_;
    Writer writer_;
    std::size_t current_ = 0;
    std::vector<Change> pending_;
};

} // namespace parking
