// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QString>

class HexFindBar;
class HexStatusBar;
class QAction;
class QActionGroup;
class QHexDocument;
class QHexView;
class QToolBar;

// The hex editor window: a QHexView in the middle, the File, Edit and View
// menus, a find bar at the bottom and a status bar. It shows either a
// packet's payload (no file: saving asks for a name) or a file read through
// a QFileBuffer, edited in memory and saved through a temporary file and a
// rename; a file that may not be written opens read-only. Either way the
// title carries the modified mark while there are unsaved edits. The window
// deletes itself when closed.
//
// Closing (close(), the title bar, the File menu) with unsaved edits asks
// first: save (for a payload: "Save as..." to a file the user chooses),
// discard, or cancel. Cancelling, or a save that fails or is cancelled,
// ignores the close event: close() then returns false and the window stays
// open with its edits, so that a caller closing other windows with it (the
// main window) can cancel its own close too. Once the user has chosen to
// discard, later close events (the window is hidden and waits for its
// deletion) are accepted without asking again, until it is shown again.
class HexWindow : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(HexWindow)

public:
    explicit HexWindow(QWidget* parent = nullptr);
    // Stops listening to the document before the view deletes it.
    ~HexWindow() override;

    // A new, shown window over the file; null, having told the user why,
    // when the file cannot be opened. The window has no parent.
    static HexWindow* openFileWindow(const QString& fileName, QWidget* messageParent = nullptr);

    // Shows the document, taken over: a window over bytes without a file.
    void setDocument(QHexDocument* document);
    // Shows the file; false, with errorOut set and the window unchanged,
    // when it cannot be opened for reading.
    bool openFile(const QString& fileName, QString* errorOut = nullptr);

    QHexView* view() const { return m_view; }
    HexFindBar* findBar() const { return m_findbar; }
    HexStatusBar* hexStatusBar() const { return m_statusbar; }
    // Empty for a payload window.
    QString fileName() const { return m_filename; }
    bool isReadOnly() const { return m_readonly; }

    // Moves the caret to the offset the text names (see HexOffsetEntry);
    // false, with errorOut set and the caret where it was, when the text is
    // malformed or the offset lies outside the document.
    bool goToOffset(const QString& text, QString* errorOut = nullptr);
    // Writes the document to the file; false, having told the user why,
    // when that failed (the old file then stays as it was). Afterwards the
    // window shows that file.
    bool saveFile(const QString& fileName);
    // Saves to the window's file, or asks for one.
    bool save();
    bool saveAs();
    void setBytesPerLine(int bytes);
    // Steps the view's font size by points, at least 4 points.
    void zoom(int points);

    // The title of a window without a file; empty: the program's name only.
    void setUntitledName(const QString& name);

protected:
    // Asks whether to save unsaved edits; see the class comment.
    void closeEvent(QCloseEvent* e) override;
    // With unsaved edits, asks whether to save them (for a window without a
    // file: as a new file), discard them or cancel; saves if so told.
    // Cancel when the user cancelled or the save did not happen; Discard
    // without edits.
    QMessageBox::StandardButton askToKeepEdits();
    void showEvent(QShowEvent* e) override;

private:
    void createActions();
    void attachDocument();
    void updateTitle();
    void updateActions();
    void updateStatus();
    void askGoToOffset();
    // F3 and Shift+F3: the bar's pattern again, or the bar to type one.
    void findAgain(bool forward);
    void openFileDialog();
    void selectAll();
    void undo();
    void redo();
    void cut();
    void copy(bool hex);
    void paste();
    // Whether the selection fits on the clipboard, as bytes or as hex text;
    // if not, the user is told why and what to do instead.
    bool fitsClipboard(bool hex, const QString& title);

    QHexView* m_view;
    HexFindBar* m_findbar;
    HexStatusBar* m_statusbar;
    QToolBar* m_findtoolbar;
    QString m_filename;
    QString m_untitled;
    // The document whose signals the window follows.
    QPointer<QHexDocument> m_attached;
    bool m_readonly = false;
    // The user chose to discard the edits on the last close.
    bool m_discarded = false;
    // Fitted into its screen, once, when first shown.
    bool m_fitted = false;

    QAction* m_save = nullptr;
    QAction* m_undo = nullptr;
    QAction* m_redo = nullptr;
    QAction* m_cut = nullptr;
    QAction* m_paste = nullptr;
    QActionGroup* m_widths = nullptr;
};
