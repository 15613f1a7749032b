#include "hostsql.h"

#include <client/adoibquery.h>

namespace contracts::sql {

// Each dialect's text is written out whole, line by line, so that what a
// database receives can be read here as it is sent.

QStringList filialOracle()
{
    return {
        QStringLiteral("SELECT"),
        QStringLiteral("   FI.CDFILIAL, FI.NMFILIAL,FI.CDEMPRESA,FI.CDINSCESTA,"),
        QStringLiteral("   EM.NMEMPRESA, EM.NMRAZSOCEMPR, FI.CDSERIE"),
        QStringLiteral("FROM"),
        QStringLiteral("   FILIAL FI, EMPRESA EM"),
        QStringLiteral("WHERE"),
        QStringLiteral("   FI.CDFILIAL = NVL(:P_CDFILIAL,FI.CDFILIAL) AND"),
        QStringLiteral("   FI.CDEMPRESA = EM.CDEMPRESA"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   CDFILIAL"),
    };
}

QStringList filialMSSQL()
{
    return {
        QStringLiteral("SELECT"),
        QStringLiteral("   FI.CDFILIAL, FI.NMFILIAL,FI.CDEMPRESA,FI.CDINSCESTA,"),
        QStringLiteral("   EM.NMEMPRESA, EM.NMRAZSOCEMPR, FI.CDSERIE"),
        QStringLiteral("FROM"),
        QStringLiteral("   FILIAL FI, EMPRESA EM"),
        QStringLiteral("WHERE"),
        QStringLiteral("   FI.CDFILIAL = ISNULL(:P_CDFILIAL,FI.CDFILIAL) AND"),
        QStringLiteral("   FI.CDEMPRESA = EM.CDEMPRESA"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   CDFILIAL"),
    };
}

QStringList filialIB()
{
    return {
        QStringLiteral("SELECT"),
        QStringLiteral("   FI.CDFILIAL, FI.NMFILIAL,FI.CDEMPRESA,FI.CDINSCESTA,"),
        QStringLiteral("   EM.NMEMPRESA, EM.NMRAZSOCEMPR, FI.CDSERIE"),
        QStringLiteral("FROM"),
        QStringLiteral("   FILIAL FI, EMPRESA EM,"),
        QStringLiteral("   PARAM(:P_CDFILIAL)P_CDFILIAL"),
        QStringLiteral("WHERE"),
        QStringLiteral("   FI.CDFILIAL = NVLSTR(P_CDFILIAL.PARAM ,FI.CDFILIAL) AND"),
        QStringLiteral("   FI.CDEMPRESA = EM.CDEMPRESA"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   CDFILIAL"),
    };
}

QStringList filialSQLite()
{
    return {
        QStringLiteral("SELECT"),
        QStringLiteral("   FI.CDFILIAL, FI.NMFILIAL,FI.CDEMPRESA,FI.CDINSCESTA,"),
        QStringLiteral("   EM.NMEMPRESA, EM.NMRAZSOCEMPR, FI.CDSERIE"),
        QStringLiteral("FROM"),
        QStringLiteral("   FILIAL FI, EMPRESA EM"),
        QStringLiteral("WHERE"),
        QStringLiteral("   FI.CDFILIAL = COALESCE(:P_CDFILIAL,FI.CDFILIAL) AND"),
        QStringLiteral("   FI.CDEMPRESA = EM.CDEMPRESA"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   CDFILIAL"),
    };
}

QStringList filialPG()
{
    // The parameter arrives untyped; the cast keeps COALESCE on text.
    return {
        QStringLiteral("SELECT"),
        QStringLiteral("   FI.CDFILIAL, FI.NMFILIAL,FI.CDEMPRESA,FI.CDINSCESTA,"),
        QStringLiteral("   EM.NMEMPRESA, EM.NMRAZSOCEMPR, FI.CDSERIE"),
        QStringLiteral("FROM"),
        QStringLiteral("   FILIAL FI, EMPRESA EM"),
        QStringLiteral("WHERE"),
        QStringLiteral("   FI.CDFILIAL = COALESCE(CAST(:P_CDFILIAL AS VARCHAR),FI.CDFILIAL) AND"),
        QStringLiteral("   FI.CDEMPRESA = EM.CDEMPRESA"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   CDFILIAL"),
    };
}

QStringList inscrEstadOracle()
{
    return {
        QStringLiteral("SELECT"),
        QStringLiteral("   I.CDINSCESTA    ,I.NMREPRINSEST  ,MI.NMMUNICIPIO ,"),
        QStringLiteral("   I.IDTPIJURIEST  ,I.NRINSJURIEST  ,I.SGESTADO     ,"),
        QStringLiteral("   I.NRCEPIEST     ,I.DSENDEIEST    ,I.NMBAIRIEST   ,"),
        QStringLiteral("   I.NRTELEIEST    ,I.NRFAXIEST     ,I.CDPAIS       ,"),
        QStringLiteral("   I.CDMUNICIPIO   ,E.NMRAZSOCEMPR, I.IDTPAMBIENTENFE,"),
        QStringLiteral("   I.NRSERIECERTIFIC, ES.CDESTADOIBGE"),
        QStringLiteral("FROM"),
        QStringLiteral("   EMPRESA E, MUNICIPIO MI, INSCRESTAD I, ESTADO ES"),
        QStringLiteral("WHERE"),
        QStringLiteral("   (E.CDEMPRESA = :P_CDEMPRESA)  AND"),
        QStringLiteral("   (I.CDEMPRESA = :P_CDEMPRESA)  AND"),
        QStringLiteral("   (I.CDINSCESTA = :P_CDINSCESTA)  AND"),
        QStringLiteral("   (I.CDPAIS = MI.CDPAIS(+))  AND"),
        QStringLiteral("   (I.SGESTADO = MI.SGESTADO(+))  AND"),
        QStringLiteral("   (I.CDMUNICIPIO = MI.CDMUNICIPIO(+)) AND"),
        QStringLiteral("   (I.SGESTADO = ES.SGESTADO(+))"),
        QStringLiteral("ORDER BY 1"),
    };
}

QStringList inscrEstadMSSQL()
{
    return {
        QStringLiteral("SELECT"),
        QStringLiteral("   I.CDINSCESTA    ,I.NMREPRINSEST  ,MI.NMMUNICIPIO ,"),
        QStringLiteral("   I.IDTPIJURIEST  ,I.NRINSJURIEST  ,I.SGESTADO     ,"),
        QStringLiteral("   I.NRCEPIEST     ,I.DSENDEIEST    ,I.NMBAIRIEST   ,"),
        QStringLiteral("   I.NRTELEIEST    ,I.NRFAXIEST     ,I.CDPAIS       ,"),
        QStringLiteral("   I.CDMUNICIPIO   ,E.NMRAZSOCEMPR, I.IDTPAMBIENTENFE,"),
        QStringLiteral("   I.NRSERIECERTIFIC, ES.CDESTADOIBGE"),
        QStringLiteral("FROM EMPRESA E, INSCRESTAD I LEFT JOIN MUNICIPIO MI"),
        QStringLiteral("                             ON (I.CDPAIS      = MI.CDPAIS)   AND"),
        QStringLiteral("                                (I.SGESTADO    = MI.SGESTADO) AND"),
        QStringLiteral("                                (I.CDMUNICIPIO = MI.CDMUNICIPIO)"),
        QStringLiteral("                             LEFT JOIN ESTADO ES"),
        QStringLiteral("                             ON (I.CDPAIS      = ES.CDPAIS)   AND"),
        QStringLiteral("                                (I.SGESTADO    = ES.SGESTADO)"),
        QStringLiteral("WHERE (E.CDEMPRESA  = :P_CDEMPRESA)  AND"),
        QStringLiteral("      (I.CDEMPRESA  = :P_CDEMPRESA)  AND"),
        QStringLiteral("      (I.CDINSCESTA = :P_CDINSCESTA)"),
        QStringLiteral("ORDER BY 1"),
    };
}

QStringList inscrEstadIB()
{
    // The same text as SQL Server's.
    return {
        QStringLiteral("SELECT"),
        QStringLiteral("   I.CDINSCESTA    ,I.NMREPRINSEST  ,MI.NMMUNICIPIO ,"),
        QStringLiteral("   I.IDTPIJURIEST  ,I.NRINSJURIEST  ,I.SGESTADO     ,"),
        QStringLiteral("   I.NRCEPIEST     ,I.DSENDEIEST    ,I.NMBAIRIEST   ,"),
        QStringLiteral("   I.NRTELEIEST    ,I.NRFAXIEST     ,I.CDPAIS       ,"),
        QStringLiteral("   I.CDMUNICIPIO   ,E.NMRAZSOCEMPR, I.IDTPAMBIENTENFE,"),
        QStringLiteral("   I.NRSERIECERTIFIC, ES.CDESTADOIBGE"),
        QStringLiteral("FROM EMPRESA E, INSCRESTAD I LEFT JOIN MUNICIPIO MI"),
        QStringLiteral("                             ON (I.CDPAIS      = MI.CDPAIS)   AND"),
        QStringLiteral("                                (I.SGESTADO    = MI.SGESTADO) AND"),
        QStringLiteral("                                (I.CDMUNICIPIO = MI.CDMUNICIPIO)"),
        QStringLiteral("                             LEFT JOIN ESTADO ES"),
        QStringLiteral("                             ON (I.CDPAIS      = ES.CDPAIS)   AND"),
        QStringLiteral("                                (I.SGESTADO    = ES.SGESTADO)"),
        QStringLiteral("WHERE (E.CDEMPRESA  = :P_CDEMPRESA)  AND"),
        QStringLiteral("      (I.CDEMPRESA  = :P_CDEMPRESA)  AND"),
        QStringLiteral("      (I.CDINSCESTA = :P_CDINSCESTA)"),
        QStringLiteral("ORDER BY 1"),
    };
}

QStringList inscrEstadSQLite()
{
    // The state is joined on country and state code, like the SQL Server
    // text: a state code alone can repeat across countries and would
    // duplicate the registration.
    return {
        QStringLiteral("SELECT"),
        QStringLiteral("   I.CDINSCESTA    ,I.NMREPRINSEST  ,MI.NMMUNICIPIO ,"),
        QStringLiteral("   I.IDTPIJURIEST  ,I.NRINSJURIEST  ,I.SGESTADO     ,"),
        QStringLiteral("   I.NRCEPIEST     ,I.DSENDEIEST    ,I.NMBAIRIEST   ,"),
        QStringLiteral("   I.NRTELEIEST    ,I.NRFAXIEST     ,I.CDPAIS       ,"),
        QStringLiteral("   I.CDMUNICIPIO   ,E.NMRAZSOCEMPR, I.IDTPAMBIENTENFE,"),
        QStringLiteral("   I.NRSERIECERTIFIC, ES.CDESTADOIBGE"),
        QStringLiteral("FROM EMPRESA E"),
        QStringLiteral("     JOIN INSCRESTAD I ON (I.CDEMPRESA = E.CDEMPRESA)"),
        QStringLiteral("     LEFT JOIN MUNICIPIO MI ON (I.CDPAIS      = MI.CDPAIS)   AND"),
        QStringLiteral("                               (I.SGESTADO    = MI.SGESTADO) AND"),
        QStringLiteral("                               (I.CDMUNICIPIO = MI.CDMUNICIPIO)"),
        QStringLiteral("     LEFT JOIN ESTADO ES ON (I.CDPAIS   = ES.CDPAIS)   AND"),
        QStringLiteral("                            (I.SGESTADO = ES.SGESTADO)"),
        QStringLiteral("WHERE (E.CDEMPRESA  = :P_CDEMPRESA)  AND"),
        QStringLiteral("      (I.CDEMPRESA  = :P_CDEMPRESA)  AND"),
        QStringLiteral("      (I.CDINSCESTA = :P_CDINSCESTA)"),
        QStringLiteral("ORDER BY 1"),
    };
}

QStringList inscrEstadPG()
{
    // The same text as SQLite's.
    return {
        QStringLiteral("SELECT"),
        QStringLiteral("   I.CDINSCESTA    ,I.NMREPRINSEST  ,MI.NMMUNICIPIO ,"),
        QStringLiteral("   I.IDTPIJURIEST  ,I.NRINSJURIEST  ,I.SGESTADO     ,"),
        QStringLiteral("   I.NRCEPIEST     ,I.DSENDEIEST    ,I.NMBAIRIEST   ,"),
        QStringLiteral("   I.NRTELEIEST    ,I.NRFAXIEST     ,I.CDPAIS       ,"),
        QStringLiteral("   I.CDMUNICIPIO   ,E.NMRAZSOCEMPR, I.IDTPAMBIENTENFE,"),
        QStringLiteral("   I.NRSERIECERTIFIC, ES.CDESTADOIBGE"),
        QStringLiteral("FROM EMPRESA E"),
        QStringLiteral("     JOIN INSCRESTAD I ON (I.CDEMPRESA = E.CDEMPRESA)"),
        QStringLiteral("     LEFT JOIN MUNICIPIO MI ON (I.CDPAIS      = MI.CDPAIS)   AND"),
        QStringLiteral("                               (I.SGESTADO    = MI.SGESTADO) AND"),
        QStringLiteral("                               (I.CDMUNICIPIO = MI.CDMUNICIPIO)"),
        QStringLiteral("     LEFT JOIN ESTADO ES ON (I.CDPAIS   = ES.CDPAIS)   AND"),
        QStringLiteral("                            (I.SGESTADO = ES.SGESTADO)"),
        QStringLiteral("WHERE (E.CDEMPRESA  = :P_CDEMPRESA)  AND"),
        QStringLiteral("      (I.CDEMPRESA  = :P_CDEMPRESA)  AND"),
        QStringLiteral("      (I.CDINSCESTA = :P_CDINSCESTA)"),
        QStringLiteral("ORDER BY 1"),
    };
}

QStringList rota()
{
    return {
        // One line of the text per line here.
        // clang-format off
        QStringLiteral("SELECT"),
        QStringLiteral("  CDROTATRANS, NMROTATRANS"),
        QStringLiteral("FROM"),
        QStringLiteral("  ROTATRANS"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("  CDROTATRANS"),
        // clang-format on
    };
}

void applyFilial(core::TADOIBQuery& q)
{
    q.SQL = filialOracle();
    q.SQL_ORACLE = filialOracle();
    q.SQL_MSSQL = filialMSSQL();
    q.SQL_IB = filialIB();
    q.SQL_SQLITE = filialSQLite();
    q.SQL_PG = filialPG();
}

void applyInscrEstad(core::TADOIBQuery& q)
{
    q.SQL = inscrEstadOracle();
    q.SQL_ORACLE = inscrEstadOracle();
    q.SQL_MSSQL = inscrEstadMSSQL();
    q.SQL_IB = inscrEstadIB();
    q.SQL_SQLITE = inscrEstadSQLite();
    q.SQL_PG = inscrEstadPG();
}

void applyRota(core::TADOIBQuery& q)
{
    q.SQL = rota();
    q.SQL_ORACLE.clear();
    q.SQL_MSSQL.clear();
    q.SQL_IB.clear();
    q.SQL_SQLITE.clear();
    q.SQL_PG.clear();
}

} // namespace contracts::sql
