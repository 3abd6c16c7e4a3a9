// The table of operation codes, written as lists by family. Extended mnemonics that are a base
// mnemonic followed by a condition (BE, JNE, LOCGRNZ, CRJH, ...) are formed from the base and
// the condition suffixes that the instruction family accepts.
#include "mnemonics.h"

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace pelda {

namespace {

// The z/Architecture general instructions, by family.
constexpr std::string_view kGeneral[] = {
    // Add, subtract, multiply, divide
    "A AR AG AGR AGF AGFR AY AH AHY AGH AHI AGHI AHIK AGHIK ARK AGRK AFI AGFI AIH ASI AGSI "
    "AHHHR AHHLR AL ALR ALG ALGR ALGF ALGFR ALY ALRK ALGRK ALFI ALGFI ALC ALCR ALCG ALCGR "
    "ALHSIK ALGHSIK ALSI ALGSI ALSIH ALSIHN ALHHHR ALHHLR",
    "S SR SG SGR SGF SGFR SY SH SHY SGH SRK SGRK SL SLR SLG SLGR SLGF SLGFR SLY SLRK SLGRK "
    "SLFI SLGFI SLB SLBR SLBG SLBGR SHHHR SHHLR SLHHHR SLHHLR",
    "M MR MFY MG MGRK MH MHY MGH MHI MGHI ML MLR MLG MLGR MS MSR MSY MSG MSGR MSGF MSGFR MSC "
    "MSRKC MSGC MSGRKC MSFI MSGFI",
    "D DR DL DLR DLG DLGR DSG DSGR DSGF DSGFR",
    // And, or, exclusive or
    "N NR NG NGR NY NRK NGRK NI NIY NC NIHF NIHH NIHL NILF NILH NILL NCRK NCGRK NNRK NNGRK "
    "NXRK NXGRK NORK NOGRK",
    "O OR OG OGR OY ORK OGRK OI OIY OC OIHF OIHH OIHL OILF OILH OILL OCRK OCGRK",
    "X XR XG XGR XY XRK XGRK XI XIY XC XIHF XILF",
    // Branch
    "BAL BALR BAS BASR BASSM BSM BC BCR BCT BCTR BCTG BCTGR BIC BXH BXHG BXLE BXLEG BPP BPRP "
    "BRAS BRASL BRC BRCL BRCT BRCTG BRCTH BRXH BRXHG BRXLE BRXLG NIAI",
    // Compare
    "C CR CG CGR CGF CGFR CY CFI CGFI CRL CGRL CGFRL CRB CGRB CRJ CGRJ CIB CGIB CIJ CGIJ CRT "
    "CGRT CIT CGIT CH CHY CGH CHI CGHI CHHSI CHSI CGHSI CHRL CGHRL CHF CHHR CHLR CIH",
    "CL CLR CLG CLGR CLGF CLGFR CLY CLC CLCL CLCLE CLCLU CLFI CLGFI CLI CLIY CLFHSI CLGHSI "
    "CLHHSI CLRL CLGRL CLGFRL CLHRL CLGHRL CLRB CLGRB CLRJ CLGRJ CLIB CLGIB CLIJ CLGIJ CLRT "
    "CLGRT CLFIT CLGIT CLT CLGT CLM CLMY CLMH CLHF CLHHR CLHLR CLIH CLST",
    "CS CSY CSG CDS CDSY CDSG CSST PLO CMPSC CKSM CUSE",
    // Convert, translate, edit, decimal
    "CU12 CU14 CU21 CU24 CU41 CU42 CUTFU CUUTF CVB CVBY CVBG CVD CVDY CVDG",
    "TR TRT TRTR TRE TRTE TRTRE TROO TROT TRTO TRTT PACK PKA PKU UNPK UNPKA UNPKU ED EDMK",
    "AP CP DP MP SP SRP ZAP TP MVO MVN MVZ",
    // Load
    "L LR LG LGR LGF LGFR LY LA LAY LAE LAEY LARL LAA LAAG LAAL LAALG LAN LANG LAX LAXG LAO "
    "LAOG LAM LAMY LT LTR LTG LTGR LTGF LTGFR LB LBR LGB LGBR LBH LCR LCGR LCGFR LCBB LGFI LGRL "
    "LGFRL LRL LH LHR LHY LGH LGHR LHI LGHI LHRL LGHRL LHH LLC LLCR LLGC LLGCR LLCH LLH LLHR "
    "LLGH LLGHR LLHH LLHRL LLGHRL LLGF LLGFR LLGFRL LLGT LLGTR LLIHF LLIHH LLIHL LLILF LLILH "
    "LLILL LLGFAT LLGTAT LGAT LAT LFHAT LFH LM LMY LMG LMH LMD LNR LNGR LNGFR LPR LPGR LPGFR "
    "LPD LPDG LPQ LRV LRVR LRVG LRVGR LRVH LZRF LZRG LLZRGF LGG LLGFSG LGSC",
    "LOC LOCR LOCG LOCGR LOCFH LOCFHR LOCHI LOCGHI LOCHHI SELR SELGR SELFHR",
    "IC ICY ICM ICMY ICMH IIHF IIHH IIHL IILF IILH IILL IPM EAR EPSW ECAG ECTG ETND",
    // Move
    "MVC MVCIN MVCL MVCLE MVCLU MVCRL MVGHI MVHHI MVHI MVI MVIY MVST MVCOS MVCDK MVCSK",
    // Rotate and shift
    "RISBG RISBGN RISBHG RISBLG RNSBG ROSBG RXSBG RLL RLLG SLA SLAG SLAK SLDA SLDL SLL SLLG "
    "SLLK SRA SRAG SRAK SRDA SRDL SRL SRLG SRLK",
    // Store
    "ST STY STG STAM STAMY STC STCY STCH STCM STCMY STCMH STCK STCKE STCKF STFLE STH STHY "
    "STHH STHRL STRL STGRL STM STMY STMG STMH STFH STOC STOCG STOCFH STPQ STRV STRVG STRVH "
    "STGSC NTSTG",
    // Test, search, miscellaneous
    "TM TMY TMH TMHH TMHL TML TMLH TMLL TS TAM TABORT TBEGIN TBEGINC TEND TRAP2 TRAP4 SRST "
    "SRSTU SAR SAM24 SAM31 SAM64 SPM SVC EX EXRL FLOGR POPCNT PFD PFDRL PPA UPT MC",
    // Message security assist and friends
    "KM KMC KMAC KMCTR KMF KMO KMA KIMD KLMD KDSA PRNO PCC DFLTCC SORTL",
};

// Floating-point instructions that ordinary programs use (hexadecimal and binary).
constexpr std::string_view kFloat[] = {
    "LD LE LDR LER LDY LEY LZDR LZER LZXR STD STE STDY STEY LTDR LTER LCDR LCER LPDR LPER LNDR "
    "LNER LRDR LRER LDXR LEDR LDER LXR AD ADR AE AER AU AUR AW AWR AXR SD SDR SE SER SU SUR SW "
    "SWR SXR MD MDR ME MER MEE MEER MXD MXDR MXR DD DDR DE DER DXR CD CDR CE CER HDR HER SQD "
    "SQDR SQE SQER CPSDR LDGR LGDR EFPC SFPC LFPC STFPC SRNM SRNMB LFAS SFASR",
    "ADB ADBR AEB AEBR AXBR SDB SDBR SEB SEBR SXBR MDB MDBR MEEB MEEBR MXBR DDB DDBR DEB DEBR "
    "DXBR CDB CDBR CEB CEBR CXBR KDB KDBR KEB KEBR LDEB LDEBR LXDB LXDBR LEDBR LDXBR LEXBR "
    "LTDBR LTEBR LTXBR LCDBR LCEBR LPDBR LPEBR LNDBR LNEBR SQDB SQDBR SQEB SQEBR FIDBR FIEBR "
    "FIDBRA FIEBRA CDFBR CEFBR CDGBR CEGBR CFDBR CFEBR CGDBR CGEBR CDLFBR CDLGBR CLFDBR CLGDBR "
    "CEFBRA CDFBRA CFDBRA CGDBRA MADB MADBR MAEB MAEBR MSDB MSDBR MSEB MSEBR TCDB TCEB",
    "CDFR CDGR CFDR CGDR CEFR CEGR CFER CGER",
};

// Control and input/output instructions that system code uses.
constexpr std::string_view kControl[] = {
    "LPSW LPSWE SSM STNSM STOSM LCTL LCTLG STCTL STCTG LRA LRAY LRAG IPK SPKA PC PT PR PTI SAC "
    "SACF EPAR EPAIR ESAR ESAIR ESEA IAC ISKE SSKE IVSK RRBE PTLB IPTE IDTE STAP STIDP STPX "
    "SPX SIGP LURA LURAG STURA STURG TPROT BAKR EREG EREGG ESTA MSTA PALB PGIN PGOUT SCK SCKC "
    "STCKC SPT STPT SCKPF DIAG SIE SERVC STFL TB LASP MVCP MVCS MVPG CSP CSPG PTF",
    "SSCH TSCH MSCH STSCH CSCH HSCH RSCH XSCH TPI SCHM SAL STCRW CHSC RCHP SIO SIOF TIO HIO "
    "HDV TCH CLRIO",
};

// Branch on condition: B plus a condition, also as BR, J, BRU...
constexpr std::string_view kConditions[] = {"H", "L", "E", "NH", "NL", "NE", "O",
                                            "P", "M", "Z", "NO", "NP", "NM", "NZ"};
// Compare and branch, compare and trap: the base plus one of these.
constexpr std::string_view kCompareConditions[] = {"H", "L", "E", "NH", "NL", "NE"};

constexpr std::string_view kCompareBases[] = {
    "CRB",  "CGRB", "CIB",  "CGIB",  "CLRB",  "CLGRB", "CLIB",  "CLGIB", "CRJ",
    "CGRJ", "CIJ",  "CGIJ", "CLRJ",  "CLGRJ", "CLIJ",  "CLGIJ", "CRT",   "CGRT",
    "CIT",  "CGIT", "CLRT", "CLGRT", "CLFIT", "CLGIT", "CLT",   "CLGT"};
constexpr std::string_view kOnConditionBases[] = {"LOC",    "LOCR",   "LOCG",   "LOCGR",  "LOCFH",
                                                  "LOCFHR", "LOCHI",  "LOCGHI", "LOCHHI", "STOC",
                                                  "STOCG",  "STOCFH", "SELR",   "SELGR",  "SELFHR"};
// Branch mnemonics whose extended forms are prefix + condition (+ suffix).
struct BranchFamily {
    std::string_view prefix;
    std::string_view suffix;
};
constexpr BranchFamily kBranchFamilies[] = {
    {"B", ""}, {"B", "R"}, {"J", ""}, {"BR", ""}, {"BR", "L"}, {"JL", ""}, {"JG", ""}, {"BI", ""},
};
constexpr std::string_view kOtherExtended =
    "B BR NOP NOPR J JNOP BRU BRUL JLU JLNOP JG JGNOP BI JAS JASL JCT JCTG JCTH JXH JXHG JXLE "
    "JXLEG JC JLC BRCTH LHHR LHLR LLHFR LLHHR LLHLR LLCHR LLCHHR LLCHLR LLCLHR NHHR NHLR NLHR "
    "OHHR OHLR OLHR XHHR XHLR XLHR NOTR NOTGR CLFHSI RISBGZ RISBGNZ RISBHGZ RISBLGZ";

// The assembler instructions, with conditional assembly and macro definition.
constexpr std::string_view kAssembler =
    "ACONTROL ADATA AINSERT ALIAS AMODE CATTR CCW CCW0 CCW1 CEJECT CNOP COM COPY CSECT CXD DC "
    "DROP DS DSECT DXD EJECT END ENTRY EQU EXITCTL EXTRN ICTL ISEQ LOCTR LTORG MNOTE OPSYN ORG "
    "POP PRINT PUNCH PUSH REPRO RMODE RSECT SPACE START TITLE USING WXTRN XATTR MACRO MEND MEXIT "
    "ACTR AEJECT AGO AIF ANOP AREAD ASPACE GBLA GBLB GBLC LCLA LCLB LCLC MHELP SETA SETB SETC "
    "SETAF SETCF AGOB AIFB";

// Statements whose operation takes no operand field: what follows is a remark.
constexpr std::string_view kNoOperands =
    "MACRO MEND MEXIT ANOP LTORG EJECT CSECT DSECT RSECT COM LOCTR PR UPT SAM24 SAM31 SAM64 "
    "CSCH HSCH RSCH XSCH TEND PTLB TRAP2 SCKPF PALB";

constexpr std::string_view kConditional =
    "ACTR AGO AIF AREAD SETA SETB SETC SETAF SETCF AGOB AIFB GBLA GBLB GBLC LCLA LCLB LCLC";

using Table = std::unordered_map<std::string, OpInfo>;

template <typename F> void eachWord(std::string_view list, F f) {
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && list[i] == ' ') ++i;
        size_t j = i;
        while (j < list.size() && list[j] != ' ') ++j;
        if (j > i) f(list.substr(i, j - i));
        i = j;
    }
}

void add(Table& t, std::string_view word, OpKind kind) {
    t[std::string(word)].kind = kind;
}

Table buildTable() {
    Table t;
    using Lists = std::span<const std::string_view>;
    for (Lists lists : {Lists(kGeneral), Lists(kFloat), Lists(kControl)})
        for (std::string_view list : lists)
            eachWord(list, [&](std::string_view w) { add(t, w, OpKind::Machine); });
    eachWord(kOtherExtended, [&](std::string_view w) { add(t, w, OpKind::Machine); });
    for (const BranchFamily& f : kBranchFamilies)
        for (std::string_view c : kConditions)
            add(t, std::string(f.prefix) + std::string(c) + std::string(f.suffix), OpKind::Machine);
    for (std::string_view base : kCompareBases)
        for (std::string_view c : kCompareConditions)
            add(t, std::string(base) + std::string(c), OpKind::Machine);
    for (std::string_view base : kOnConditionBases)
        for (std::string_view c : kConditions)
            add(t, std::string(base) + std::string(c), OpKind::Machine);
    eachWord(kAssembler, [&](std::string_view w) { add(t, w, OpKind::Assembler); });
    eachWord(kNoOperands, [&](std::string_view w) { t[std::string(w)].noOperands = true; });
    eachWord(kConditional, [&](std::string_view w) { t[std::string(w)].conditional = true; });
    return t;
}

const Table& table() {
    static const Table t = buildTable();
    return t;
}

} // namespace

OpInfo lookupOperation(QStringView op) {
    // Operation codes are at most eight characters (a few extended mnemonics reach seven).
    if (op.isEmpty() || op.size() > 10) return {};
    std::string key;
    key.reserve(static_cast<size_t>(op.size()));
    for (QChar c : op) {
        char16_t u = c.unicode();
        if (u >= 'a' && u <= 'z') u = static_cast<char16_t>(u - 'a' + 'A');
        if (u > 0x7F) return {};
        key.push_back(static_cast<char>(u));
    }
    const Table& t = table();
    auto it = t.find(key);
    return it == t.end() ? OpInfo{} : it->second;
}

} // namespace pelda
