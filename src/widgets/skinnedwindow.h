#pragma once
// What every skinned window of the program shares: one PNG drawn unscaled at (0, 0) as its
// whole background, optionally the cut-corner outline, a strip along the top that drags the
// captionless window, the 12-pixel dialog font and a fixed size; its controls found by their
// template ids through a typed registry; and a modal run that EndDialog ends. The main window
// (a QWidget) and the dialogs (QDialogs) inherit it beside their Qt class.

#include <QHash>
#include <QMetaObject>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <memory>

class QEventLoop;
class QImage;
class QPainter;

namespace widgets {

// Draws image `pngId` at (0, 0) at its own size. Returns false when the image is missing.
bool DrawSkin(QPainter& painter, int pngId);
bool DrawSkin(QPainter& painter, const QImage& image);

class SkinnedWindow
{
public:
    struct Skin
    {
        int backgroundPng = 0; // a missing image leaves the background unpainted
        QSize size{};          // the window's fixed size; empty: not fixed here
        bool cutCorners = false;
        int dragStrip = 0;  // height in pixels of the top strip that moves the window; 0: none
        int fontPixels = 0; // pixel size of the window's font; 0: the inherited font
    };

    // `window` is the widget that inherits this class (or holds it), its Qt part constructed.
    SkinnedWindow(QWidget* window, const Skin& skin);
    ~SkinnedWindow();
    SkinnedWindow(const SkinnedWindow&) = delete;
    SkinnedWindow& operator=(const SkinnedWindow&) = delete;

    // A dialog runs its own modal loop; any other window is shown and runs until EndDialog,
    // which may also come before the run starts. Returns EndDialog's result.
    int DoModal();
    void EndDialog(int result);
    bool IsEnded() const;

    // Files `control` under its template id. An id filed twice is reported; the later wins.
    template <class T> T* AddControl(int id, T* control);
    // The control with that id, or null.
    QWidget* GetDlgItem(int id) const;
    // The control with that id as a T; null, with a critical message naming both types, when
    // there is none or it is something else.
    template <class T> T* Control(int id) const;

private:
    class EventFilter;
    void Register(int id, QWidget* control);
    void ReportWrongControl(int id, const QWidget* found, const QMetaObject& wanted) const;

    QWidget* m_window;
    std::unique_ptr<EventFilter> m_filter;
    QHash<int, QPointer<QWidget>> m_controls;
    QEventLoop* m_loop = nullptr;
    int m_result = 0;
    bool m_ended = false;
};

template <class T> T* SkinnedWindow::AddControl(int id, T* control)
{
    Register(id, control);
    return control;
}

template <class T> T* SkinnedWindow::Control(int id) const
{
    QWidget* found = GetDlgItem(id);
    T* typed = qobject_cast<T*>(found);
    if (!typed)
        ReportWrongControl(id, found, T::staticMetaObject);
    return typed;
}

} // namespace widgets
