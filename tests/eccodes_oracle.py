"""ecCodes as an independent reader of the same messages: splitting, header keys and decoded values."""

import math
import tempfile

import eccodes as ec

MISSING = -1e100  # ecCodes' missing value in numericValues

# BufrMessage attribute -> ecCodes header key, for the fields of edition 4.
HEADER_FIELDS = {
    "total_length": "totalLength",
    "section1_length": "section1Length",
    "section2_length": "section2Length",
    "section3_length": "section3Length",
    "section4_length": "section4Length",
    "edition": "edition",
    "master_table_number": "masterTableNumber",
    "originating_centre": "bufrHeaderCentre",
    "originating_subcentre": "bufrHeaderSubCentre",
    "update_sequence_number": "updateSequenceNumber",
    "local_section_present": "localSectionPresent",
    "data_category": "dataCategory",
    "international_data_subcategory": "internationalDataSubCategory",
    "local_data_subcategory": "dataSubCategory",
    "master_tables_version_number": "masterTablesVersionNumber",
    "local_tables_version_number": "localTablesVersionNumber",
    "typical_year": "typicalYear",
    "typical_month": "typicalMonth",
    "typical_day": "typicalDay",
    "typical_hour": "typicalHour",
    "typical_minute": "typicalMinute",
    "typical_second": "typicalSecond",
    "number_of_subsets": "numberOfSubsets",
    "observed_data": "observedData",
    "compressed_data": "compressedData",
}


def split(raw, header_keys=(), values=False, header_editions=(4,)):
    """Every message ecCodes finds in `raw`, as a dict: offset, body (the message octets), edition, the requested
    header keys (for the messages of `header_editions`) and, with `values`, numericValues and stringValues or the
    unpack error."""
    found = []
    with tempfile.TemporaryFile() as f:
        f.write(raw)
        f.seek(0)
        while (h := ec.codes_bufr_new_from_file(f)) is not None:
            try:
                item = {"offset": int(ec.codes_get(h, "offset")), "body": ec.codes_get_message(h),
                        "edition": ec.codes_get(h, "edition")}
                if item["edition"] in header_editions:
                    item.update({key: ec.codes_get(h, key) for key in header_keys})
                    item["unexpandedDescriptors"] = [int(d) for d in ec.codes_get_array(h, "unexpandedDescriptors")]
                    if values and item["edition"] == 4:
                        unpack(h, item)
                found.append(item)
            finally:
                ec.codes_release(h)
    return found


def header_differences(message, header, fields=HEADER_FIELDS):
    """Each field of `fields` (attribute -> key) and the unexpanded descriptors where our record and ecCodes'
    header keys differ, as text."""
    out = []
    for attribute, key in fields.items():
        ours, theirs = getattr(message, attribute), header[key]
        if isinstance(ours, bool):
            theirs = bool(theirs)
        if ours != theirs:
            out.append(f"{attribute}: {ours!r} != {theirs!r}")
    if list(message.unexpanded_descriptors) != header["unexpandedDescriptors"]:
        out.append(f"descriptors: {list(message.unexpanded_descriptors)} != {header['unexpandedDescriptors']}")
    return out


def unpack(h, item):
    try:
        ec.codes_set(h, "unpack", 1)
        item["numericValues"] = [float(v) for v in ec.codes_get_array(h, "numericValues")]
        try:
            item["stringValues"] = list(ec.codes_get_string_array(h, "stringValues"))
        except ec.KeyValueNotFoundError:
            item["stringValues"] = []
    except ec.GribInternalError as error:
        item["unpack_error"] = str(error)


def value_agrees(value, theirs):
    """Our DecodedValue against ecCodes' number for the same item."""
    if value.raw_value is None:
        return theirs == MISSING
    if (value.descriptor // 1000) % 100 == 31 and theirs == MISSING:
        # Class 31 (factors, indicators, significances) is never missing for us; ecCodes calls all ones missing.
        return True
    return math.isclose(value.raw_value, theirs, rel_tol=1e-12, abs_tol=1e-12)
