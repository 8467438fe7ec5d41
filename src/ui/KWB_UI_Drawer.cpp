#include "ui/KWB_UI_Drawer.h"

#include <algorithm>
#include <cctype>

void MakeFont(LOGFONTA& font, const char* face, int points, const char* style)
{
    LOGFONTA system = {};
    ::GetObjectA(::GetStockObject(SYSTEM_FONT), sizeof(system), &system);
    font = system;
    lstrcpynA(font.lfFaceName, face ? face : "", LF_FACESIZE);
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfWidth = 0;
    std::string letters = style ? style : "";
    std::transform(letters.begin(), letters.end(), letters.begin(), [](unsigned char c) { return std::tolower(c); });
    auto has = [&](char c) { return letters.find(c) != std::string::npos; };
    // With the usual system font weight of 700 the bit rule gives 700 or 0;
    // other system fonts (400 under Wine) would give odd weights, so the two
    // results are used directly.
    font.lfWeight = has('b') ? FW_BOLD : FW_DONTCARE;
    font.lfItalic = has('i');
    font.lfUnderline = has('u');
    font.lfStrikeOut = has('s');
    zelto::ScopedWindowDc screen(nullptr);
    POINT height = {0, -(points * 10 * ::GetDeviceCaps(screen.get(), LOGPIXELSY) / 720)};
    ::DPtoLP(screen.get(), &height, 1);
    font.lfHeight = height.y;
}

HBITMAP LoadResBitmap(UINT resourceId, SIZE* size)
{
    HBITMAP bitmap = static_cast<HBITMAP>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId),
                                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP info = {};
    if (bitmap) ::GetObjectA(bitmap, sizeof(info), &info);
    if (size) *size = {info.bmWidth, info.bmHeight};
    return bitmap;
}

CKWB_UI_Drawer::CKWB_UI_Drawer()
{
    m_defaultFont = {};
    lstrcpynA(m_defaultFont.lfFaceName, "\xB5\xB8\xBF\xF2", LF_FACESIZE);   // "돋움"
    m_defaultFont.lfHeight = 12;
}

void CKWB_UI_Drawer::AddBitmap(UINT resourceId, POINT pos, int destWidth, int destHeight, int id)
{
    auto element = std::make_unique<DrawElement>();
    element->id = id;
    element->kind = DrawElement::BITMAP;
    element->bitmap.reset(LoadResBitmap(resourceId, &element->natural));
    element->pos = pos;
    element->dest = {destWidth, destHeight};
    m_elements.push_back(std::move(element));
}

void CKWB_UI_Drawer::AddText(const char* text, POINT pos, const LOGFONTA& font, COLORREF color, int id)
{
    auto element = std::make_unique<DrawElement>();
    element->id = id;
    element->kind = DrawElement::TEXT;
    element->text = text ? text : "";
    element->color = color;
    element->font = font;
    element->pos = pos;
    m_elements.push_back(std::move(element));
}

void CKWB_UI_Drawer::AddText(const char* text, POINT pos, const LOGFONTA& font, int id)
{
    AddText(text, pos, font, m_defaultColor, id);
}

void CKWB_UI_Drawer::AddText(const char* text, POINT pos, COLORREF color, int id)
{
    AddText(text, pos, m_defaultFont, color, id);
}

DrawElement* CKWB_UI_Drawer::Find(int id, int kind)
{
    for (auto& element : m_elements)
        if (element->id == id && (kind < 0 || element->kind == kind)) return element.get();
    return nullptr;
}

BOOL CKWB_UI_Drawer::SetText(int id, const char* text)
{
    DrawElement* element = Find(id, DrawElement::TEXT);
    if (!element || !text) return FALSE;
    element->text = text;
    return TRUE;
}

void CKWB_UI_Drawer::ReplaceBitmap(int id, UINT resourceId)
{
    if (DrawElement* element = Find(id, DrawElement::BITMAP))
        element->bitmap.reset(LoadResBitmap(resourceId, &element->natural));
}

void CKWB_UI_Drawer::MoveElement(int id, POINT pos)
{
    if (DrawElement* element = Find(id, -1)) element->pos = pos;
}

void CKWB_UI_Drawer::RemoveElement(int id)
{
    auto found = std::find_if(m_elements.begin(), m_elements.end(), [&](const auto& e) { return e->id == id; });
    if (found != m_elements.end()) m_elements.erase(found);
}

void CKWB_UI_Drawer::Draw(HDC dc) const
{
    ::SetBkMode(dc, TRANSPARENT);
    zelto::ScopedMemoryDc memory(::CreateCompatibleDC(dc));
    for (const auto& element : m_elements) {
        if (element->kind == DrawElement::TEXT) {
            zelto::ScopedGdiObject font(::CreateFontIndirectA(&element->font));
            zelto::ScopedSelectObject selected(dc, font.get());
            ::SetTextColor(dc, element->color);
            ::TextOutA(dc, element->pos.x, element->pos.y, element->text.c_str(), static_cast<int>(element->text.size()));
        } else if (element->bitmap) {
            zelto::ScopedSelectObject selected(memory.get(), element->bitmap.get());
            if (element->dest.cx && element->dest.cy)
                ::StretchBlt(dc, element->pos.x, element->pos.y, element->dest.cx, element->dest.cy, memory.get(), 0, 0,
                             element->natural.cx, element->natural.cy, SRCCOPY);
            else
                ::BitBlt(dc, element->pos.x, element->pos.y, element->natural.cx, element->natural.cy, memory.get(), 0, 0,
                         SRCCOPY);
        }
    }
}

void CKWB_UI_Drawer::Clear()
{
    m_elements.clear();
}
