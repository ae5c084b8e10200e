#ifndef CAMPAIGN_CATALOG_LAYOUT_H
#define CAMPAIGN_CATALOG_LAYOUT_H

#include <string>
#include <vector>

// The catalog's tables as this version makes them (campaign_catalog.h).
namespace campaign {

// A table: its columns with their SQL types, the key's columns marked.
struct TableLayout {
    std::string name;
    struct Col {
        std::string name, type;
        bool key;
    };
    std::vector<Col> columns;

    std::string CreateSql() const;
    bool Has(const std::string& column) const;
};

// `days` from the column table (campaign_record.h), `campaign`, `runs` and
// `nodes`. A table that a later version adds goes here; a column added to
// one is added to an earlier catalog when it is opened for writing.
const std::vector<TableLayout>& CatalogLayout();

} // namespace campaign

#endif
