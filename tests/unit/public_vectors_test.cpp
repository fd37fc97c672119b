// PDUs published by other open-source SMS projects (most of them captured from real phones and
// networks), each with the display line that the values those projects assert translate to.
//
// Translation into our line: time stamp as dd.mm.yy hh:mm:ss in the sender's local time (the
// zone is not shown, so a project that reports UTC is converted back by the stamp's own zone),
// "+" in front of every number that is not alphanumeric (national numbers included), a status
// report as our report sentence, 8-bit text through Windows-1251, a stored SUBMIT with an empty
// time stamp, and an empty line for a message without text. Where a project does not assert a
// field, the field is read from the PDU as it stands and the row says so.
#include <gtest/gtest.h>

#include <string>

#include "pdu/decode_pdu.hpp"
#include "text/text.hpp"

namespace quorlin {
namespace {

struct PublicVector {
  const char* name;  // test name suffix
  const char* pdu;   // as the project published it
  const char* line;  // our display line, UTF-8
};

// clang-format off
const PublicVector kVectors[] = {
    // ---- ModemManager, src/tests/test-sms-part-3gpp.c ----
    // test_pdu1: 7-bit with extension characters, "2011-02-28T11:50:50-05:00".
    {"MM_ExtendedCharacters",
     "07912104442961F4040B916171957291F800001120821105050A6AC8B2BC7C9A83C220F6DB7D2ECB41EDF27C1E3E"
     "97411BDE06754FD3D1A0F9BB5D0695F1F4B29B5C2683C6E8B03C3CA697E5F34D6AE303D1D1F2F7DD0D4ABB59A079"
     "7D8C0685E7A00028EC26832A960B28EC2683BE6050780EBA97D96C17",
     "28.02.11 11:50:50\t+16175927198\tHere's a longer message [{with some extended characters}] "
     "thrown in, such as £ and ΩΠΨ and §¿ as well."},
    // test_pdu2: alphanumeric sender "InternetSMS", UCS2 Cyrillic, "2011-03-29T19:20:04+04:00".
    {"MM_AlphanumericUcs2Cyrillic",
     "07919730071111F10414D04937BD2C7797E9D3E614000811309291024061080442043504410442",
     "29.03.11 19:20:04\tInternetSMS\tтест"},
    // test_pdu3_natl: national number, which ModemManager shows as "18005551212".
    {"MM_NationalNumber",
     "07912143658709F1040B818100551512F20000111010214365000AE8329BFD4697D9EC37",
     "01.01.11 12:34:56\t+18005551212\thellohello"},
    // test_pdu3_8bit: DCS 04, data e8 32 9b fd 46 97 d9 ec 37 de, shown through Windows-1251.
    {"MM_EightBitData",
     "07912143658709F1040B918100551512F20004111010214365000AE8329BFD4697D9EC37DE",
     "01.01.11 12:34:56\t+18005551212\tи2›эF—Щм7Ю"},
    // test_pdu_dcsf1: DCS F1 (group F, 7-bit), 160 septets, sender "1800" of type 85,
    // "2011-06-24T13:08:15+02:00".
    {"MM_CodingGroupF160Septets",
     "07913306091093F0040485810000F111604231805180A049B7F90D9A1AA5A01668F8769BD3E4B29B9E2EB359A03F"
     "C85D06A9C3ED707A0EA2CBC3EE79BB4CA7CBCBA05643617DA7C76990FD4D979741EE77DD5E0ED741ED371D442E83"
     "E0E1F9BC0CD281E677D9B84C06C1DF7539E85C9097E520FB9B2E2F83C6EF369C5E064D8D52D0BC2E07DDEF77D7DC"
     "2C7799E5A0771D040FCB41F402BB0047BFDD6550B80ECAD966",
     "24.06.11 13:08:15\t+1800\tInfo SFR - Confidentiel, à ne jamais transmettre -\r\n"
     "Voici votre nouveau mot de passe : sw2ced pour gérer votre compte SFR sur www.sfr.fr ou par "
     "téléphone au 963"},
    // test_pdu_udhi: KPN welcome message, concatenated with a 16-bit reference (IEI 08),
    // sender "1002", "2011-06-29T23:32:19+02:00".
    {"MM_Concatenated16BitReference",
     "07911356131313F64004850120390011609232239180A006080400100201D7327BFD6EB340E2321BF46E83EA7790"
     "F59D1E97DBE1341B442F83C465763D3DA797E56537C81D0ECB41AB59CC1693C16031D96C064241E5656838AF03A9"
     "6230982A269BCD462917C8FA4E8FCBED709A0D7ABBE9F6B0FB5C7683D27350984D4FABC9A0B33C4C4FCF5D20EBFB"
     "2D079DCB62793DBD06D9C36E50FB2D4E97D9A0B49B5E96BBCB",
     "29.06.11 23:32:19\t+1002\tWelkom, bel om uw Voicemail te beluisteren naar +31612001233 "
     "(PrePay: *100*1233#). Voicemail ontvangen is altijd gratis. Voor gebruik van mobiel "
     "interne"},
    // test_pdu_multipart, part 1 of 2 (8-bit reference 4C), "2012-04-25T19:56:50-04:00".
    {"MM_Concatenated8BitReference",
     "07912160130320F5440B916171056429F5000021405291650569A00500034C0201A9E8F41C949E83C2207B599E07"
     "B1DFEE33885E9ED341E4F23C7D7697C920FA1B54C697E5E3F4BC0C6AD7D9F434081E96D341E3303C2C4EB3D3F4BC"
     "0B94A483E6E8779D4D06CDD1EF3BA80E0785E7A0B7BB0C6A97E7F3F0B9CC02B9DF7450780EA2DFDF2C50780EA2A3"
     "CBA0BA9B5C96B3F369F71954768FDFE4B4FB0C9297E1F2F2BCECA6CF41",
     "25.04.12 19:56:50\t+16175046925\tThis is a very long test designed to exercise multi part "
     "capability. It should show up as one message, not as two, as the underlying encoding "
     "represents "},
    // test_pdu_stored_by_us: a stored SMS-SUBMIT without service centre, UCS2, national number.
    {"MM_StoredSubmitUcs2",
     "002100098136397339F70008224F60597D4F60597D4F60597D4F60597D4F60597D4F60597D4F60597D4F60597D4F"
     "60",
     "\t+639337937\t你好你好你好你好你好你好你好你好你"},
    // test_pdu_not_stored: a status report, "2012-09-11T07:40:36+02:00"; status 30 (in the
    // 20-3F range) and the discharge time read from the PDU.
    {"MM_StatusReportPending",
     "07914356060013F1065A098136397339F7219011700463802190117004638030",
     "11.09.12 07:40:36\t+639337937\tОтчет о доставке: отложено +639337937 Дата: 11.09.12  "
     "07:40:36"},

    // ---- oFono, unit/test-sms.c ----
    // simple_deliver: 02-08-26 19:37:41, zone -4 quarters.
    {"oFono_SimpleDeliver",
     "07911326040000F0040B911346610089F60000208062917314480CC8F71D14969741F977FD07",
     "26.08.02 19:37:41\t+31641600986\tHow are you?"},
    // alnum_sender: "sipgate", 08-08-13 12:07:22.
    {"oFono_AlphanumericSender",
     "0791447758100650040DD0F334FC1CA6970100008080312170224008D4F29CDE0EA7D9",
     "13.08.08 12:07:22\tsipgate\tTestmail"},
    // simple_submit: SUBMIT without service centre, relative validity period AA.
    {"oFono_SimpleSubmit", "0011000B916407281553F80000AA0AE8329BFD4697D9EC37",
     "\t+46708251358\thellohello"},
    // ems_udh_test_2: SUBMIT with a 35-octet header of text-format elements, 7-bit (the
    // destination is not asserted; read from the PDU).
    {"oFono_SubmitWithLongHeader",
     "079194712272303351030B915121340195F60000FF80230A030F07230A031806130A031E0A430A032E0D830A033D"
     "14020A035104F60A0355010600159D9E83D2735018442FCFE98A243DCC4E97C92C90F8CD26B3407537B92C67A7DD"
     "65320B1476934173BA3CBD2ED3D1F277FD8C76299CEF3B280C92A7CF683A28CC4E9FDD6532E8FE96935D",
     "\t+15124310596\tThis is a test\nItalied, bold, underlined, and strikethrough.\nNow a right "
     "aligned word."},
    // sms_charset_default: all 128 septets of the default alphabet, the escape replaced by a
    // space. Listed with its leading "00" the PDU is a SUBMIT without service centre. oFono
    // asserts the text only; the destination field holds 12 semi-octets with no end mark, and
    // all of them are shown.
    {"oFono_WholeDefaultAlphabet",
     "0001000B915310101010100000808080604028180E888462C168381E90886442A9582E988C06C4E9783EA0906844"
     "2A994EA8946AC56AB95EB0986C46ABD96EB89C6EC7EBF97EC0A070482C1A8FC8A472C96C3A9FD0A8744AAD5AAFD8"
     "AC76CBED7ABFE0B0784C2E9BCFE8B47ACD6EBBDFF0B87C4EAFDBEFF8BC7ECFEFFBFF",
     "\t+350101010101\t@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞ ÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
     "¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà"},

    // ---- python-messaging, messaging/test/test_sms.py ----
    // test_decoding_ucs2_pdu (date not asserted; read from the PDU).
    {"PyMessaging_Ucs2",
     "07914306073011F0040B914316709807F2000880604290224080084E2D5174901A8BAF",
     "24.06.08 09:22:04\t+34610789702\t中兴通讯"},
    // test_decoding_datetime_gmtplusone: 2009-09-01 16:41:32 UTC, zone +1 h.
    {"PyMessaging_LocalTimeOfStamp",
     "0791447758100650040C914497716247010000909010711423400A2050EC468B81C4733A",
     "01.09.09 17:41:32\t+447917267410\t  1741 bst"},
    // test_decoding_number_alphanumeric, odd length (date not asserted).
    {"PyMessaging_AlphanumericOddLength",
     "07919471060040340409D0C6A733390400009060920173018093CC74595C96838C4F6772085AD6DDE4320B444E97"
     "41D4B03C6D7EC3E9E9B71B9474D3CB727799DEA286CFE5B9991DA6CBC3F432E85E9793CBA0F09A9EB6A7CB72BA0B"
     "9474D3CB727799DE72D6E9FABAFB0CBAA7E56490BA4CD7D34170F91BE4ACD3F575F7794E0F9F4161F1B92C2F8FD1"
     "EE32DD054AA2E520E3D3991C82A8E5701B",
     "29.06.09 10:37:10\tFONIC\tLieber FONIC Kunde, die Tarifoption Internet-Tagesflatrate wurde "
     "aktiviert. Internet-Nutzung wird jetzt pro Nutzungstag abgerechnet. Ihr FONIC Team"},
    // test_decode_weird_multipart_german_pdu, part 1 of 2 (reference 25): euro sign from the
    // extension table. Sender and date not asserted; read from the PDU.
    {"PyMessaging_ConcatenatedWithEuro",
     "07919471227210244405852122F039F101506271217180A005000319020198E9B2B82C0759DFE4B0F9ED2EB79675"
     "37B9CC02B5D37450122D2FCB41EE303DFD7687D96537881A96A7CD6F383DFD7683F46134BBEC064DD36550DA0D22"
     "A7CBF3721BE42CD3F5A0198B56036DCA20B8FC0D6A0A4170767D0EAAE540433A082E7F83A6E5F93CFD76BB40D7B2"
     "DB0D9AA6CB2072BA3C2F83926EF31BE44E8FD17450BB8C9683CA",
     "26.05.10 17:12:17\t+12220\tLieber Vodafone-Kunde, mit Ihrer nationalen Tarifoption zahlen "
     "Sie in diesem Netz 3,45 € pro MB plus 59 Ct pro Session. Wenn Sie diese Info nicht mehr e"},
    // test_decoding_delivery_status_report: status 0, scts = dt = 2010-09-28 14:56.
    {"PyMessaging_StatusReport",
     "0791538375000075061805810531F1019082416500400190824165004000",
     "28.09.10 14:56:00\t+50131\tОтчет о доставке: доставлено +50131 Дата: 28.09.10  14:56:00"},
    // test_decoding_delivery_status_report_without_smsc_address.
    {"PyMessaging_StatusReportWithoutServiceCentre",
     "00060505810531F1010150610000400101506100004000",
     "05.10.10 16:00:00\t+50131\tОтчет о доставке: доставлено +50131 Дата: 05.10.10  16:00:00"},
    // test_decode_sms_confirmation: recipient and date from its text "+43626575117|10/02/18
    // 11:31:54|"; status 43 (permanent error) and the discharge time read from the PDU.
    {"PyMessaging_StatusReportError",
     "07914306073011F006270B913426565711F7012081111345400120811174054043",
     "18.02.10 11:31:54\t+43626575117\tОтчет о доставке: ошибка +43626575117 Дата: 18.02.10  "
     "11:47:50"},

    // ---- Android, telephony/tests/.../GsmSmsTest.java ----
    // testAddressing (SCTS 06-06-06 15:03:03, asserted as "2006-06-06T15:03:03-07:00" by
    // others who use the same vector).
    {"Android_Addressing",
     "07914151551512f2040B916105551511f100006060605130308A04D4F29C0E",
     "06.06.06 15:03:03\t+16505551111\tTest"},
    // testUcs2 (date not asserted).
    {"Android_Ucs2Symbols",
     "07912160130300F4040B914151245584F600087010807121352B10212200A900AE00680065006C006C006F",
     "08.01.07 17:12:53\t+14154255486\t™©®hello"},
    // testCPHSVoiceMail: alphanumeric sender "_@", text " " (date not asserted).
    {"Android_AlphanumericWithAt", "07912160130310F20404D0110041006060627171118A0120",
     "26.06.06 17:17:11\t_@\t "},
    // testExtendedCharacterTable (date not asserted).
    {"Android_ExtendedCharacterTable",
     "07914151551512f2040B916105551511f100006080615131728A44D4F29C0E2AE3E96537B94C068DD16179784C2F"
     "CB41F4B0985D06B958ADD00FB0E94536AF974974DA6D281BA00E95E26D509B946FC3DBF87A25D56A04",
     "16.08.06 15:13:27\t+16505551111\tTest extended character table "
     ".,-!?@~_\\/&\"';^|:()<{}>[]=%*+#"},

    // ---- python-gsmmodem, test/test_pdu.py (test_decode) ----
    // A six-octet service-centre field, 2013-03-08 15:02:16+02.
    {"GsmModem_ShortServiceCentre",
     "06917228195339040B917228214365F700003130805120618005D4F29C2E03",
     "08.03.13 15:02:16\t+27821234567\tTest2"},
    // Extension characters and "é" of the default alphabet (date not asserted).
    {"GsmModem_BracesAndAccent",
     "06917228195339040B917228214365F70000313062315352800A800D8A5E98D337A910",
     "26.03.13 13:35:25\t+27821234567\t@{tést}!"},
    // Stored SUBMIT with service centre, relative validity period.
    {"GsmModem_SubmitWithServiceCentre",
     "07911326040000F0310D0B911326880736F40000A90FF7FBDD454E87CDE1B0DB357EB701",
     "\t+31628870634\twww.diafaan.com"},
    // Status report without service centre (only number and reference asserted; the time
    // stamps and status 00 read from the PDU).
    {"GsmModem_StatusReport", "0006D60B911326880736F4111011719551401110117195714000",
     "11.01.11 17:59:15\t+31628870634\tОтчет о доставке: доставлено +31628870634 Дата: "
     "11.01.11  17:59:17"},
    // Concatenated part 1 of 1 (reference C3), national sender "2781188", five-octet service
    // centre (date not asserted).
    {"GsmModem_ConcatenatedNationalSender",
     "0591721891F1400781721881F800003160526104848059050003C30101916536FB1DCABEEB2074D85E064941B19C"
     "AB060319A5C522289C96D3D3ED32286C0FA7D96131BBEC024941B19CAB0603DDD36C36A88C87A7E565D0DB0D82C5"
     "5EB0DB4B068BCD5C20",
     "25.06.13 16:40:48\t+2781188\tHello!You have R 19.50 FREE airtime available. R 19.50 will "
     "expire on 01/07/2013. "},
    // SUBMIT with a header and UCS2 whose user-data length (A0) overstates the data.
    {"GsmModem_SubmitUcs2WithHeader", "0041010C910661345542F60008A0050003000301306F3044",
     "\t+60164355246\tはい [undecodable: user data longer than 140 octets]"},
    // SUBMIT with absolute validity period (number from the matching encoder test).
    {"GsmModem_SubmitAbsoluteValidity",
     "0019000B917228001011F100003170013193008017D474BB3CA787DB70903DCC4E93D3F43C885E9ED301",
     "\t+27820001111\tTimestamp validity test"},
    // test_encodeSmsSubmit: national number of type A1 "0126541234", service centre "12345"
    // (four octets), text "Test message: local numbers".
    {"GsmModem_SubmitNationalNumber",
     "04A12143F5310D0AA110624521430000A91BD4F29C0E6A97E7F3F0B9AC03B1DFE3301BE4AEB7C565F91C",
     "\t+0126541234\tTest message: local numbers"},

    // ---- nRF Connect SDK, tests/lib/sms/src/sms_test.c ----
    // test_recv_len8_number20: a 20-digit sender, 21-02-09 20:58:34.
    {"Nrf_TwentyDigitSender",
     "0791534874894320041491214365870921436587090000122090028543800831D98C56B3DD70",
     "09.02.21 20:58:34\t+12345678901234567890\t12345678"},
    // test_recv_special_characters: the whole extension table (euro sign given as ISO-8859-15
    // A4 there).
    {"Nrf_ExtensionTable",
     "079153487489432004099121436587F90000122090028543802F5378799C0EB3416374581E1ED3CBF2B90EB4A180"
     "3628D02605DAF0401B1F68F3026D7AA00D10B429BB00",
     "09.02.21 20:58:34\t+123456789\tSpecial characters: ^ { } [ ] \\ ~ | €."},
    // test_recv_dcs1111_8bit: DCS F4, octets 01 to 0F.
    {"Nrf_CodingGroupFEightBit",
     "07915348748943200405912143F500F4122090028543800F0102030405060708090A0B0C0D0E0F",
     "09.02.21 20:58:34\t+12345\t\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F"},
    // test_recv_invalid_udh_portaddr_ignored_concat_valid: no service centre, a 44-octet header
    // holding a 16-bit concatenation element among others, national sender, 21-01-30 12:34:56.
    {"Nrf_LongHeaderWith16BitReference",
     "004408812143658700041210032143652B2C1B01000804111101010400050712345678901234A106123456789012"
     "0102030405060708090A0B0C0D0E0F",
     "30.01.21 12:34:56\t+12345678\t\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F"
     " [undecodable: user data cut short]"},
    // test_recv_empty_sms_text: no service centre, no text.
    {"Nrf_EmptyText", "00040A91214365870900001220900285438000", "09.02.21 20:58:34\t+1234567890\t"},

    // ---- python-gammu, test/test_pdu.py ----
    // test_decode: status report for "604865888", text "Delivered" (times read from the PDU).
    {"PythonGammu_StatusReport",
     "079124602009999002AB098106845688F8907080517375809070805183018000",
     "08.07.09 15:37:57\t+604865888\tОтчет о доставке: доставлено +604865888 Дата: 08.07.09  "
     "15:38:10"},

    // ---- dreamfabric.com/sms worked example (mirrored at subnets.ru/saved/sms_pdu_format.html)
    // SMS-DELIVER from "27838890001" (type C8), 99-03-29 15:16:59 GMT+2.
    {"Dreamfabric_Deliver",
     "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37",
     "29.03.99 15:16:59\t+27838890001\thellohello"},
};
// clang-format on

class PublicVectorTest : public testing::TestWithParam<PublicVector> {};

TEST_P(PublicVectorTest, DecodesToThePublishedValues) {
  const PublicVector& v = GetParam();
  EXPECT_EQ(ToUtf8(DecodePdu(FromAscii(v.pdu))), std::string(v.line));
}

INSTANTIATE_TEST_SUITE_P(Published, PublicVectorTest, testing::ValuesIn(kVectors),
                         [](const testing::TestParamInfo<PublicVector>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace quorlin
