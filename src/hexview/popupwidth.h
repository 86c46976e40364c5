// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

class QComboBox;

// Makes the list that drops down from the box at least as wide as its
// widest entry, now and whenever the entries, the font or the style
// change, so that no entry is cut; the box itself keeps its size. The
// helper that does it is a child of the box.
void fitPopupToEntries(QComboBox& box);
