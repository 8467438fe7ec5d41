// Reads the parameter document that the starting web page passes with "-x".
#include "catalogue/UpdateInfoMgr.h"

#include "base/LastError.h"
#include "base/Log.h"
#include "net/HttpUtil.h"

#include <pugixml.hpp>

#include <cstdlib>
#include <cstring>

namespace {

// The catalogue address is "http://%s/zelto/zeltosetup/Repository/%s/%s.xml"
// filled with the SOURCE host, the mode and the mode again.
const char kCataloguePath[] = "/zelto/zeltosetup/Repository/";

// The text of an element: the value of its first child node.
const char* ElementText(const pugi::xml_node& element)
{
    return element.first_child().value();
}

// A mode names a folder and a file on the content server: it must not be able
// to leave that folder or change the URL's meaning.
bool IsSafeMode(const std::string& mode)
{
    if (mode.find("..") != std::string::npos) return false;
    for (unsigned char c : mode) {
        if (c == '/' || c == '\\' || c == '%' || c == '?' || c == '#' || c == ' ' || c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

}  // namespace

BOOL CUpdateInfoMgr::ParseXMLArgument(const char* document)
{
    if (!document) document = "";
    WriteLog(2, "CUpdateInfoMgr::ParseXMLArgument(%s)", document);

    // The parse result is not checked: a text that is not XML yields a
    // document without PARAM, and the mode test below ends the reading.
    pugi::xml_document doc;
    // Texts are code page 949: the bytes are kept as they are, never converted.
    doc.load_buffer(document, std::strlen(document), pugi::parse_default, pugi::encoding_utf8);

    if (pugi::xml_node mode = doc.first_element_by_path("/PARAM/MODE")) m_strMode = ElementText(mode);
    if (m_strMode.empty()) {
        WriteLog(1, "[ParseXMLArgument] m_strMode.GetLength()== 0");
        return FALSE;
    }
    if (!IsSafeMode(m_strMode)) {
        WriteLog(1, "[ParseXMLArgument] invalid MODE (%s)", m_strMode.c_str());
        return FALSE;
    }

    if (pugi::xml_node source = doc.first_element_by_path("/PARAM/SOURCE")) {
        std::string host = CHttpUtil::ExtractDomainFromURL(ElementText(source));
        if (host.empty()) {
            RecordLastError(ERR_SOURCE_HOST, ::GetLastError());
            WriteLog(1, "[ParseXMLArgument] ExtractDomainFromURL == NULL");
            return FALSE;
        }
        // An https SOURCE keeps the catalogue, and its signature, on TLS;
        // anything else is the plain http of old.
        const char* scheme = _strnicmp(ElementText(source), "https://", 8) == 0 ? "https://" : "http://";
        // A host name is the same in any case: the catalogue URL spells it in
        // lower case, as the trust rule compares it.
        ::CharLowerBuffA(&host[0], static_cast<DWORD>(host.size()));
        m_strSourceURL = scheme + host + kCataloguePath + m_strMode + "/" + m_strMode + ".xml";
    }
    if (pugi::xml_node node = doc.first_element_by_path("/PARAM/FORCEDELETE")) m_bForceDelete = std::atoi(ElementText(node));
    if (pugi::xml_node node = doc.first_element_by_path("/PARAM/SHOWDLG")) m_bShowDlg = std::atoi(ElementText(node));
    if (pugi::xml_node node = doc.first_element_by_path("/PARAM/SERVICENAME")) m_strServiceName = ElementText(node);

    if (m_strSourceURL.empty()) {
        RecordLastError(ERR_NO_CATALOGUE_URL, ::GetLastError());
        WriteLog(1, "[ParseXMLArgument] m_strSourceURL.GetLength()== 0");
        return FALSE;
    }
    WriteLog(2, "[ParseXMLArgument] MODE=%s, m_bForceDelete=%d, m_bShowDlg=%d, m_strServiceName=%s",
             m_strMode.c_str(), m_bForceDelete, m_bShowDlg, m_strServiceName.c_str());
    return TRUE;
}
