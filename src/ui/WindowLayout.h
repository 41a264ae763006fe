#pragma once
// The operator window's layout table: where each control stands, in twips
// (15 to a pixel), and what it says.
#include <QRect>

#include <span>

namespace parking {

struct ControlPlacement {
    const char* name;
    int left, top, width, height;
    const char* caption; // nullptr: none
    const char* frame;   // nullptr: placed on the window (or the tab control's page)
};

// The controls outside the tab control's pages, and the lights.
std::span<const ControlPlacement> windowLayout();
// The named control's place; the name is one of the table's.
const ControlPlacement& placement(const char* name);

QRect twipsRect(int left, int top, int width, int height);

} // namespace parking
