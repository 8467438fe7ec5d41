// The painted-element list of a skinned dialog: bitmaps and text lines at
// fixed positions, filled once at initialisation and replayed on every paint.
#pragma once

#include "base/Handles.h"

#include <memory>
#include <string>
#include <vector>

// A font description from a face, a size in points and style letters
// ("b" bold, "i" italic, "u" underline, "s" strike-out; any case).
void MakeFont(LOGFONTA& font, const char* face, int points, const char* style);

struct DrawElement {
    enum Kind { TEXT = 0, BITMAP = 1 };
    int id = -1;
    int kind = TEXT;
    std::string text;
    COLORREF color = RGB(0, 0, 0);
    LOGFONTA font = {};
    POINT pos = {0, 0};
    zelto::ScopedGdiObject bitmap;
    SIZE natural = {0, 0};
    SIZE dest = {0, 0};   // both non-zero: stretch to this size
};

class CKWB_UI_Drawer {
public:
    CKWB_UI_Drawer();

    void AddBitmap(UINT resourceId, POINT pos, int destWidth = 0, int destHeight = 0, int id = -1);
    void AddText(const char* text, POINT pos, const LOGFONTA& font, COLORREF color, int id = -1);
    void AddText(const char* text, POINT pos, const LOGFONTA& font, int id = -1);
    void AddText(const char* text, POINT pos, COLORREF color, int id = -1);
    BOOL SetText(int id, const char* text);
    void ReplaceBitmap(int id, UINT resourceId);
    void MoveElement(int id, POINT pos);
    void RemoveElement(int id);
    void Draw(HDC dc) const;
    void Clear();

    const std::vector<std::unique_ptr<DrawElement>>& Elements() const { return m_elements; }
    int Count() const { return static_cast<int>(m_elements.size()); }

protected:
    LOGFONTA m_defaultFont;
    COLORREF m_defaultColor = RGB(0, 0, 0);

private:
    DrawElement* Find(int id, int kind);
    std::vector<std::unique_ptr<DrawElement>> m_elements;
};

// Loads a bitmap resource of the program and reports its size.
HBITMAP LoadResBitmap(UINT resourceId, SIZE* size);
