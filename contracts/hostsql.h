#pragma once
// SQL texts of the host-database lookups, one list of lines per dialect,
// shared by the screens and the tests. The Oracle, SQL Server and InterBase
// texts are the host's own; the SQLite and PostgreSQL texts give the same
// result in those databases (COALESCE for NVL, LEFT JOIN for outer joins).

#include <QStringList>

namespace core {
class TADOIBQuery;
} // namespace core

namespace contracts::sql {

/// Branch lookup; one parameter P_CDFILIAL (null lists every branch).
/// The Oracle text is also the general one.
QStringList filialOracle();
QStringList filialMSSQL();
/// Needs the Firebird procedure PARAM and function NVLSTR
/// (core::TDtmDBGeral::firebirdSupportDdl()).
QStringList filialIB();
QStringList filialSQLite();
QStringList filialPG();

/// State registration of a company; parameters P_CDEMPRESA (used twice)
/// and P_CDINSCESTA. The Oracle text is also the general one.
QStringList inscrEstadOracle();
/// SQL Server and InterBase share this text.
QStringList inscrEstadMSSQL();
QStringList inscrEstadIB();
QStringList inscrEstadSQLite();
QStringList inscrEstadPG();

/// Routes: one text for every dialect.
QStringList rota();

/// Fill a query's texts for every dialect (SQL, SQL_ORACLE, SQL_MSSQL,
/// SQL_IB, SQL_SQLITE, SQL_PG). Fields are declared by the screens.
void applyFilial(core::TADOIBQuery& q);
void applyInscrEstad(core::TADOIBQuery& q);
void applyRota(core::TADOIBQuery& q);

} // namespace contracts::sql
